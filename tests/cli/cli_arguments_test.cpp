#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "cli/cli_arguments.h"
#include "cli/command_table.h"
#include "cli/terminal_progress.h"

namespace {

using cli::CommandKind;
using cli::ParseArguments;

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

const std::string kNewBase = "new --name Holiday --dest /jobs --dvd /dvd ";

// Every bad argument is refused with one line that names it.
TEST(CliArguments, BadArgumentsNameThemselves) {
  struct Case {
    std::string line;
    std::string error;
  };
  const Case cases[] = {
      {"burn /dvd", "'burn' is not a command (scan, new, list, encode, remove, add, move)"},
      {"scan", "DVD_FOLDER: missing"},
      {"scan /a /b", "'/b': unexpected argument"},
      {"scan --fast /dvd", "--fast: unknown option"},
      {"list extra", "'extra': unexpected argument"},
      {"new --dest /jobs --dvd /dvd", "--name: missing"},
      {"new --name A --dvd /dvd", "--dest: missing"},
      {"new --name A --dest /jobs", "--dvd: missing"},
      {kNewBase + "--name", "--name: a value is missing"},
      {kNewBase + "--title 1", "--title: '1' is not VTS:PGC[:ANGLE]"},
      {kNewBase + "--title 0:1", "--title: 0 is not within 1..99"},
      {kNewBase + "--title 1:x", "--title: 'x' is not an integer"},
      {kNewBase + "--size 0", "--size: 0 is not within 1..32767"},
      {kNewBase + "--size 700x11", "--size: 11 is not within 1..10"},
      {kNewBase + "--size 700 --bitrate 900",
       "--size, --bitrate, --quality: give only one of them"},
      {kNewBase + "--quality 101", "--quality: 101 is not within 0..100"},
      {kNewBase + "--split 700",
       "--split: goes with --bitrate or --quality (fixed size makes volumes)"},
      {kNewBase + "--size 700 --split off",
       "--split: goes with --bitrate or --quality (fixed size makes volumes)"},
      {kNewBase + "--bitrate 900 --split never", "--split: 'never' is not a size in MB or off"},
      {kNewBase + "--quality 80 --split 0", "--split: 0 is not within 1..32767"},
      {kNewBase + "--bitrate 12k", "--bitrate: '12k' is not an integer"},
      {kNewBase + "--channels quad",
       "--channels: 'quad' is not one of mono, stereo, surround, "
       "multichannel"},
      {kNewBase + "--gain 13", "--gain: '13' is not -12..12 in steps of 0.2"},
      {kNewBase + "--gain 0.3", "--gain: '0.3' is not -12..12 in steps of 0.2"},
      {kNewBase + "--crop 1,2,3", "--crop: '1,2,3' is not auto, none or TOP,BOTTOM,LEFT,RIGHT"},
      {kNewBase + "--crop 8,8,7,0", "--crop: margin 7 is not an even number"},
      {kNewBase + "--width 642", "--width: 642 is not a multiple of 4"},
      {kNewBase + "--width 4096", "--width: 4096 is not within 32..2048"},
      {kNewBase + "--ivtc maybe", "--ivtc: 'maybe' is not one of simple, complex, off"},
      {kNewBase + "--title-info colour=red",
       "--title-info: 'colour=red' is not KEY=TEXT with KEY "
       "one of title, author, copyright, keywords, "
       "description, rating"},
      {kNewBase + "--title-info rating=7", "--title-info rating: 7 is not within 0..6"},
      {kNewBase + "--json", "--json: unknown option"},
      {kNewBase + "--ivtc simple --deinterlace",
       "--deinterlace: inverse telecine and deinterlacing never run together"},
      {kNewBase + "--title 1:2 --title 1:2", "--title: 1:2 is given twice"},
      {kNewBase + "--title 1:2 --titles all", "--title, --titles: give only one of them"},
      {kNewBase + "--titles some", "--titles: 'some' is not one of all"},
      {kNewBase + "--min-length 20", "--min-length: only with --titles all"},
      {kNewBase + "--titles all --min-length -3",
       "--min-length: '-3' is not a number of minutes (0..1440)"},
      {kNewBase + "--deinterlace=yes", "--deinterlace: takes no value"},
      {"list --json --names", "--names, --json: give only one of them"},
      {"remove", "JOB: missing"},
      {"remove 1 2", "'2': unexpected argument"},
      {"add", "FOLDER: missing"},
      {"move 1", "WHERE: missing (up, down, first or last)"},
      {"move 1 top", "WHERE: 'top' is not one of up, down, first, last"},
      {"move 1 up 2", "'2': unexpected argument"},
      {"encode", "JOB: missing (or --all)"},
      {"encode --all Holiday", "'Holiday': --all takes no job"},
      {"encode --priority urgent 1",
       "--priority: 'urgent' is not one of idle, normal, high, "
       "realtime"},
      {"encode --shutdown=later 1", "--shutdown: 'later' is not all, jobs:N or volumes:N"},
      {"encode --shutdown=jobs:0 1", "--shutdown: 0 is not within 1..99"},
  };
  for (const Case& c : cases) {
    const cli::CliRequest request = ParseArguments(Words(c.line));
    EXPECT_EQ(request.Error, c.error) << c.line;
    EXPECT_EQ(request.Error.find('\n'), std::string::npos) << c.line;
  }
}

// An argument with control characters is named with them escaped: the error
// stays one line and sends no terminal control sequence.
TEST(CliArguments, ControlCharactersOfABadArgumentAreShownEscaped) {
  struct Case {
    std::vector<std::string> arguments;
    std::string error;
  };
  const Case cases[] = {
      {{"burn\nrm"}, "'burn\\nrm' is not a command (scan, new, list, encode, remove, add, move)"},
      {{"scan", "--f\x1b[2J"}, "--f\\x1b[2J: unknown option"},
      {{"encode", "--priority", "high\tlow", "1"},
       "--priority: 'high\\tlow' is not one of idle, normal, high, realtime"},
      {{"list", std::string("a\0b\x7f", 4)}, "'a\\x00b\\x7f': unexpected argument"},
  };
  for (const Case& c : cases) {
    const std::string error = ParseArguments(c.arguments).Error;
    EXPECT_EQ(error, c.error);
    for (const char byte : error) EXPECT_GE(static_cast<unsigned char>(byte), 0x20) << error;
  }
}

TEST(CliArguments, NewJobOptionsAreRead) {
  const cli::CliRequest r = ParseArguments(Words(
      kNewBase +
      "--title 2:3:1 --size=700x2 --audio 2 --channels surround --audio-bitrate 64 --gain -1.2 "
      "--subtitles 1 --crop 72,88,0,0 --width 640 --ivtc off --deinterlace --truspeed "
      "--title-info title=Sea --title-info rating=3"));
  ASSERT_FALSE(r.Failed()) << r.Error;
  ASSERT_EQ(r.Command, CommandKind::New);
  const cli::NewJobArguments& n = r.New;
  EXPECT_EQ(n.Name, "Holiday");
  EXPECT_EQ(n.Destination, "/jobs");
  EXPECT_EQ(n.DvdFolder, "/dvd");
  ASSERT_EQ(n.Titles.size(), 1u);
  EXPECT_EQ(n.Titles[0].Vts * 100 + n.Titles[0].Pgc * 10 + n.Titles[0].Angle, 231);
  EXPECT_EQ(n.SizeMB, 700);
  EXPECT_EQ(n.VolumeCount, 2);
  EXPECT_EQ(n.AudioTrack, 2);
  EXPECT_EQ(n.Channels, "surround");
  EXPECT_EQ(n.AudioBitrateKbps, 64);
  EXPECT_EQ(n.GainStep, 6);  // -1.2 dB is six steps down the slider
  EXPECT_EQ(n.SubtitleTrack, 1);
  EXPECT_EQ(n.Crop, cli::CropChoice::Manual);
  EXPECT_EQ(n.Margins.Top + n.Margins.Bottom, 160);
  EXPECT_EQ(n.Width, 640);
  EXPECT_EQ(n.Ivtc, cli::IvtcChoice::Off);
  EXPECT_TRUE(n.Deinterlace && n.TruSpeed);
  ASSERT_EQ(n.ClipInfo.size(), 2u);
  EXPECT_EQ(n.ClipInfo[0].second, "Sea");
}

TEST(CliArguments, CommandsHelpAndEncodeChoices) {
  EXPECT_NE(ParseArguments({}).HelpText.find("Usage: kestrevane-cli COMMAND"), std::string::npos);
  EXPECT_NE(ParseArguments(Words("new --help")).HelpText.find("--title-info"), std::string::npos);
  EXPECT_NE(ParseArguments(Words("encode --bogus --help")).HelpText.find("--shutdown"),
            std::string::npos);

  EXPECT_NE(ParseArguments(Words("new --help")).HelpText.find("--split MB|off"), std::string::npos);
  EXPECT_EQ(ParseArguments(Words(kNewBase + "--bitrate 2500 --split off")).New.SplitMB, 0);
  EXPECT_EQ(ParseArguments(Words(kNewBase + "--quality 80 --split=650")).New.SplitMB, 650);
  EXPECT_FALSE(ParseArguments(Words(kNewBase + "--bitrate 2500")).New.SplitMB);

  cli::CliRequest scan = ParseArguments(Words("scan --json /media/dvd"));
  EXPECT_TRUE(scan.Json);
  EXPECT_EQ(scan.ScanFolder, "/media/dvd");

  cli::CliRequest all = ParseArguments(Words("encode --all --priority idle --shutdown"));
  ASSERT_FALSE(all.Failed()) << all.Error;
  EXPECT_TRUE(all.Encode.All);
  EXPECT_EQ(all.Encode.Priority, "idle");
  EXPECT_EQ(all.Encode.Shutdown, cli::ShutdownChoice::AfterAll);

  cli::CliRequest one = ParseArguments(Words("encode --shutdown=volumes:3 2"));
  EXPECT_EQ(one.Encode.Job, "2");
  EXPECT_EQ(one.Encode.Shutdown, cli::ShutdownChoice::AfterVolumes);
  EXPECT_EQ(one.Encode.ShutdownCount, 3);
}

TEST(CliArguments, SeveralTitlesAndQueueEdits) {
  const cli::CliRequest titles = ParseArguments(Words(kNewBase + "--title 1:2 --title=3:1:2"));
  ASSERT_FALSE(titles.Failed()) << titles.Error;
  ASSERT_EQ(titles.New.Titles.size(), 2u);
  EXPECT_EQ(
      titles.New.Titles[1].Vts * 100 + titles.New.Titles[1].Pgc * 10 + titles.New.Titles[1].Angle,
      312);
  const cli::CliRequest all = ParseArguments(Words(kNewBase + "--titles all --min-length 22.5"));
  ASSERT_FALSE(all.Failed()) << all.Error;
  EXPECT_TRUE(all.New.AllTitles);
  EXPECT_EQ(all.New.MinLengthMinutes, 22.5);

  const cli::CliRequest move = ParseArguments(Words("move 3 first"));
  EXPECT_EQ(move.Command, CommandKind::Move);
  EXPECT_EQ(move.Edit.Job, "3");
  EXPECT_EQ(move.Edit.Where, cli::MoveWhere::First);
  EXPECT_EQ(ParseArguments(Words("add /jobs/A")).Edit.Folder, "/jobs/A");
  EXPECT_EQ(ParseArguments(Words("remove Holiday")).Edit.Job, "Holiday");
  EXPECT_TRUE(ParseArguments(Words("list --names")).NamesOnly);
}

// The help of each command is made from the table: every option the parser
// reads is listed with its text, and the main help lists every command.
TEST(CliArguments, HelpListsEveryCommandAndOption) {
  const std::string main_help = ParseArguments({}).HelpText;
  std::istringstream main_lines(main_help);
  for (std::string line; std::getline(main_lines, line);) EXPECT_LE(line.size(), 80u) << line;
  for (const cli::CommandSpec& command : cli::Commands()) {
    EXPECT_NE(main_help.find("\n  " + command.Name + " "), std::string::npos) << command.Name;
    EXPECT_NE(main_help.find(command.Summary), std::string::npos) << command.Name;
    const std::string help = ParseArguments({command.Name, "--help"}).HelpText;
    EXPECT_EQ(help.rfind("Usage: kestrevane-cli " + command.Usage + "\n", 0), 0u) << help;
    for (const cli::OptionSpec& option : command.Options) {
      const std::string first_line = option.Help.substr(0, option.Help.find('\n'));
      const size_t at = help.find("  " + option.Name);
      ASSERT_NE(at, std::string::npos) << command.Name << " " << option.Name;
      EXPECT_NE(help.find(first_line, at), std::string::npos) << option.Name;
    }
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 88u) << line;
  }
}

TEST(TerminalProgress, LineFitsAndPlainOutputPrintsOnlyChanges) {
  const cli::ProgressSnapshot half{50.0, 754, "Holiday: volume 1 of 2"};
  const std::string line = cli::FormatProgressLine(half, 80);
  EXPECT_EQ(line.size(), 79u);
  EXPECT_NE(line.find("  50.0 %  12:34 left"), std::string::npos) << line;
  // Half of the bar's cells are filled.
  const size_t open = line.find('['), close = line.find(']');
  const std::string bar = line.substr(open + 1, close - open - 1);
  EXPECT_EQ(std::count(bar.begin(), bar.end(), '#'), static_cast<long>(bar.size() / 2));
  // A long label is cut, the bar keeps ten cells.
  EXPECT_LE(cli::FormatProgressLine({100, 3700, std::string(200, 'x')}, 40).size(), 39u);

  char buffer[4096] = {};
  std::FILE* out = fmemopen(buffer, sizeof buffer, "w");
  {
    cli::ProgressPrinter plain(out, false);
    for (double p : {0.1, 0.5, 1.0, 1.9, 2.0}) plain.Update({p, std::nullopt, "Analyzing"});
    plain.Message("Analysis finished");
  }
  std::fclose(out);
  const std::string text = buffer;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;  // 0, 1, 2 and the message
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

}  // namespace
