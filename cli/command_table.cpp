#include "cli/command_table.h"

#include "cli/argument_values.h"

namespace cli {

namespace {

using Request = CliRequest;

// The values of the options in the request.
NewJobArguments& N(Request& r) {
  return r.New;
}
EncodeArguments& E(Request& r) {
  return r.Encode;
}

ValueSpec FolderValue(const char* name) {
  return {name, Completion::Folder, nullptr};
}
ValueSpec TextValue(const char* name) {
  return {name, Completion::None, nullptr};
}
ValueSpec WordsValue(const char* name, const std::vector<std::string>& words) {
  return {name, Completion::Words, &words};
}
const ValueSpec kJob{"JOB", Completion::Job, nullptr};

// "--json", shared by scan and list.
OptionSpec JsonOption(const char* what) {
  return {"--json",
          {},
          false,
          std::string("print ") + what + " as JSON (see the README)",
          [](Request& r, const std::string&) {
            r.Json = true;
            return std::string();
          }};
}

// --- the checks of each command once all options are read -----------------

std::string Unexpected(const std::vector<std::string>& operands, size_t allowed) {
  return operands.size() > allowed ? "'" + operands[allowed] + "': unexpected argument" : "";
}

std::string FinishScan(Request& r, const std::vector<std::string>& operands) {
  if (operands.empty()) return "DVD_FOLDER: missing";
  if (std::string e = Unexpected(operands, 1); !e.empty()) return e;
  r.ScanFolder = operands[0];
  return {};
}

std::string FinishList(Request& r, const std::vector<std::string>& operands) {
  if (r.Json && r.NamesOnly) return "--names, --json: give only one of them";
  return Unexpected(operands, 0);
}

std::string FinishNew(Request& r, const std::vector<std::string>& operands) {
  if (std::string e = Unexpected(operands, 0); !e.empty()) return e;
  const NewJobArguments& n = r.New;
  const int modes = n.SizeMB.has_value() + n.BitrateKbps.has_value() + n.QualityPercent.has_value();
  if (n.Name.empty()) return "--name: missing";
  if (n.Destination.empty()) return "--dest: missing";
  if (n.DvdFolder.empty()) return "--dvd: missing";
  if (modes > 1) return "--size, --bitrate, --quality: give only one of them";
  if (n.SplitMB && !n.BitrateKbps && !n.QualityPercent)
    return "--split: goes with --bitrate or --quality (fixed size makes volumes)";
  if (n.Deinterlace && n.Ivtc && *n.Ivtc != IvtcChoice::Off)
    return "--deinterlace: inverse telecine and deinterlacing never run together";
  if (n.AllTitles && !n.Titles.empty()) return "--title, --titles: give only one of them";
  if (n.MinLengthMinutes && !n.AllTitles) return "--min-length: only with --titles all";
  return {};
}

std::string FinishEncode(Request& r, const std::vector<std::string>& operands) {
  if (std::string e = Unexpected(operands, 1); !e.empty()) return e;
  if (r.Encode.All == !operands.empty()) {
    return r.Encode.All ? "'" + operands[0] + "': --all takes no job" : "JOB: missing (or --all)";
  }
  if (!operands.empty()) r.Encode.Job = operands[0];
  return {};
}

std::string FinishRemove(Request& r, const std::vector<std::string>& operands) {
  if (operands.empty()) return "JOB: missing";
  if (std::string e = Unexpected(operands, 1); !e.empty()) return e;
  r.Edit.Job = operands[0];
  return {};
}

std::string FinishAdd(Request& r, const std::vector<std::string>& operands) {
  if (operands.empty()) return "FOLDER: missing";
  if (std::string e = Unexpected(operands, 1); !e.empty()) return e;
  r.Edit.Folder = operands[0];
  return {};
}

std::string FinishMove(Request& r, const std::vector<std::string>& operands) {
  if (operands.empty()) return "JOB: missing";
  if (operands.size() < 2) return "WHERE: missing (up, down, first or last)";
  if (std::string e = Unexpected(operands, 2); !e.empty()) return e;
  r.Edit.Job = operands[0];
  return ReadMoveWhere(operands[1], r.Edit);
}

// The options of "new": the job's name, folders and titles...
const std::vector<OptionSpec> kNewSourceOptions = {
    {"--name", TextValue("NAME"), false,
     "job name (letters, digits, blank, '-' and '_'); for\n"
     "several titles the jobs are 'NAME - VTS_vv PGC pp',\n"
     "unless NAME is a pattern: {vts}, {pgc}, {angle} and {n}\n"
     "stand for the title set, the program chain, the angle\n"
     "and the job's place (two digits)",
     [](Request& r, const std::string& v) {
       N(r).Name = v;
       return std::string();
     }},
    {"--dest", FolderValue("FOLDER"), false, "folder in which the job's folder is made",
     [](Request& r, const std::string& v) {
       N(r).Destination = v;
       return std::string();
     }},
    {"--dvd", FolderValue("DVD_FOLDER"), false, "the DVD folder or its VIDEO_TS folder",
     [](Request& r, const std::string& v) {
       N(r).DvdFolder = v;
       return std::string();
     }},
    {"--title", TextValue("VTS:PGC[:ANGLE]"), false,
     "the title to transcode (default: the longest); may be\n"
     "repeated for one job per title",
     [](Request& r, const std::string& v) { return ReadTitle(v, N(r)); }},
    {"--titles", WordsValue("all", kAllWords), false, "one job for every program chain of the disc",
     [](Request& r, const std::string& v) {
       N(r).AllTitles = true;
       return ReadChoice("--titles", v, kAllWords);
     }},
    {"--min-length", TextValue("MINUTES"), false,
     "with --titles all: only program chains of at least MINUTES",
     [](Request& r, const std::string& v) { return ReadMinutes(v, N(r)); }}};

// ... and the settings that replace the wizard's proposals.
const std::vector<OptionSpec> kNewSettingOptions = {
    {"--size", TextValue("MB[xN]"), false, "fixed size: N volumes (1..10) of MB megabytes each",
     [](Request& r, const std::string& v) { return ReadSize(v, N(r)); }},
    {"--bitrate", TextValue("KBPS"), false, "average bit rate in Kbps (1 Kbps = 1024 bit/s)",
     [](Request& r, const std::string& v) {
       return ReadRange("--bitrate", v, 1, 32767, N(r).BitrateKbps);
     }},
    {"--quality", TextValue("PCT"), false, "constant quality, 0..100",
     [](Request& r, const std::string& v) {
       return ReadRange("--quality", v, 0, 100, N(r).QualityPercent);
     }},
    {"--split", WordsValue("MB|off", kSplitWords), false,
     "with --bitrate or --quality: start a new file every MB\n"
     "megabytes, or never (default: the proposed volume size)",
     [](Request& r, const std::string& v) { return ReadSplit(v, N(r)); }},
    {"--audio", TextValue("N"), false, "audio stream N as 'scan' numbers them",
     [](Request& r, const std::string& v) {
       return ReadRange("--audio", v, 1, 8, N(r).AudioTrack);
     }},
    {"--channels", WordsValue("MODE", kChannelWords), false,
     "mono, stereo, surround or multichannel",
     [](Request& r, const std::string& v) {
       if (std::string e = ReadChoice("--channels", v, kChannelWords); !e.empty()) return e;
       N(r).Channels = v;
       return std::string();
     }},
    {"--audio-bitrate", TextValue("KBPS"), false, "audio bit rate of one of the codec's rows",
     [](Request& r, const std::string& v) {
       return ReadRange("--audio-bitrate", v, 1, 32767, N(r).AudioBitrateKbps);
     }},
    {"--gain", TextValue("DB"), false, "audio gain, -12..12 dB in steps of 0.2",
     [](Request& r, const std::string& v) { return ReadGain(v, N(r)); }},
    {"--subtitles", TextValue("N"), false, "burn in subtitle stream N as 'scan' numbers them",
     [](Request& r, const std::string& v) {
       return ReadRange("--subtitles", v, 1, 32, N(r).SubtitleTrack);
     }},
    {"--crop", WordsValue("MODE", kCropWords), false,
     "auto, none, or TOP,BOTTOM,LEFT,RIGHT margins",
     [](Request& r, const std::string& v) { return ReadCrop(v, N(r)); }},
    {"--width", TextValue("W"), false, "output width (32..2048); the height follows the aspect",
     [](Request& r, const std::string& v) { return ReadWidth(v, N(r)); }},
    {"--ivtc", WordsValue("MODE", kIvtcWords), false, "inverse telecine: simple, complex or off",
     [](Request& r, const std::string& v) { return ReadIvtc(v, N(r)); }},
    {"--deinterlace",
     {},
     false,
     "deinterlace the picture",
     [](Request& r, const std::string&) {
       N(r).Deinterlace = true;
       return std::string();
     }},
    {"--truspeed",
     {},
     false,
     "PAL TruSpeed: play 25 fps titles at 24 fps",
     [](Request& r, const std::string&) {
       N(r).TruSpeed = true;
       return std::string();
     }},
    {"--title-info", TextValue("KEY=TEXT"), false,
     "clip information: title, author, copyright, keywords,\n"
     "description or rating (0..6); may be repeated",
     [](Request& r, const std::string& v) { return ReadClipInfo(v, N(r)); }}};

std::vector<OptionSpec> NewOptions() {
  std::vector<OptionSpec> options = kNewSourceOptions;
  options.insert(options.end(), kNewSettingOptions.begin(), kNewSettingOptions.end());
  return options;
}

// scan, new, list and encode.
void AddDiscAndRunCommands(std::vector<CommandSpec>& commands) {
  commands.push_back(
      {"scan",
       CommandKind::Scan,
       "scan [--json] DVD_FOLDER",
       "list the titles and streams of a disc",
       "Analyses the DVD folder (or its VIDEO_TS folder) and lists its title sets, program\n"
       "chains with their playing times and angles, and their audio and subtitle streams.\n"
       "Nothing is kept and nothing is queued.",
       {FolderValue("DVD_FOLDER")},
       {JsonOption("the result")},
       FinishScan});
  commands.push_back(
      {"new",
       CommandKind::New,
       "new --name NAME --dest FOLDER --dvd DVD_FOLDER [OPTION]...",
       "make jobs as the new-job wizard would, into the queue",
       "Makes a job exactly as the new-job wizard would and adds it to the queue. Every\n"
       "setting that is not given keeps the wizard's proposal for the chosen title.\n"
       "With several titles (--title repeated, or --titles all) it makes one job per\n"
       "title; the disc is analysed once and the later jobs import that analysis.",
       {},
       NewOptions(),
       FinishNew});
  commands.push_back({"list",
                      CommandKind::List,
                      "list [--json|--names]",
                      "show the queue",
                      "Shows the jobs of the queue with their state and progress. It also runs\n"
                      "while the Kestrevane program runs.",
                      {},
                      {JsonOption("the list"),
                       {"--names",
                        {},
                        false,
                        "print only the jobs' names, one a line",
                        [](Request& r, const std::string&) {
                          r.NamesOnly = true;
                          return std::string();
                        }}},
                      FinishList});
  commands.push_back(
      {"encode",
       CommandKind::Encode,
       "encode [OPTION]... (--all | JOB)",
       "encode one job or every pending job",
       "Encodes a job (its number in 'list', its name or its folder), or every pending job\n"
       "in the order of the queue. Ctrl-C aborts as the queue window's Abort does.",
       {kJob},
       {{"--all",
         {},
         false,
         "encode every pending job",
         [](Request& r, const std::string&) {
           E(r).All = true;
           return std::string();
         }},
        {"--priority", WordsValue("LEVEL", kPriorityWords), false,
         "encoder priority: idle, normal, high or realtime",
         [](Request& r, const std::string& v) {
           if (std::string e = ReadChoice("--priority", v, kPriorityWords); !e.empty()) return e;
           E(r).Priority = v;
           return std::string();
         }},
        {"--shutdown", WordsValue("WHEN", kShutdownWords), true,
         "switch the computer off after all work (WHEN = all, the\n"
         "default), after N jobs (jobs:N) or N volumes (volumes:N)",
         [](Request& r, const std::string& v) { return ReadShutdown(v, E(r)); }}},
       FinishEncode});
}

// The queue window's list commands.
void AddListCommands(std::vector<CommandSpec>& commands) {
  commands.push_back({"remove",
                      CommandKind::Remove,
                      "remove JOB",
                      "take a job off the queue (its folder stays)",
                      "Takes a job off the queue as Remove Job does: its folder and files stay\n"
                      "on disk. A pending job is removed all the same; the question the queue\n"
                      "window asks is answered by the command.",
                      {kJob},
                      {},
                      FinishRemove});
  commands.push_back({"add",
                      CommandKind::Add,
                      "add FOLDER",
                      "put the job in FOLDER back into the queue",
                      "Puts the job in FOLDER into the queue as Add Job does, for example after\n"
                      "the folder was moved or comes from another computer.",
                      {FolderValue("FOLDER")},
                      {},
                      FinishAdd});
  commands.push_back({"move",
                      CommandKind::Move,
                      "move JOB up|down|first|last",
                      "move a job in the queue",
                      "Moves a job one place up or down, as Up and Down do, or to the top or the\n"
                      "bottom of the queue.",
                      {kJob, WordsValue("WHERE", kWhereWords)},
                      {},
                      FinishMove});
}

std::vector<CommandSpec> MakeCommands() {
  std::vector<CommandSpec> commands;
  AddDiscAndRunCommands(commands);
  AddListCommands(commands);
  // Every command shows its help.
  for (CommandSpec& command : commands) {
    command.Options.push_back({"--help", {}, false, "show this help", nullptr});
  }
  return commands;
}

}  // namespace

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> commands = MakeCommands();
  return commands;
}

const CommandSpec* FindCommand(const std::string& name) {
  for (const CommandSpec& command : Commands()) {
    if (command.Name == name) return &command;
  }
  return nullptr;
}

const char* const kProgramSummary =
    "turn titles of DVD-Video folders into RealMedia volumes, without windows";

const char* const kProgramDescription =
    "kestrevane-cli does the work of the Kestrevane program from a terminal, on the\n"
    "same code: it scans a disc, makes jobs as the new-job wizard would, and lists,\n"
    "encodes, removes, adds and reorders the jobs of the queue that the program's\n"
    "queue window shows. A job is named by its number in 'list', its name or its\n"
    "folder. While the program runs, kestrevane-cli only lists.";

const std::vector<HelpSection>& ReferenceSections() {
  static const std::vector<HelpSection> sections = {
      {"Files",
       "",
       {{"$XDG_DATA_HOME/kestrevane/registry.db",
         "the queue and the frameserver's registration, one\n"
         "SQLite file per user ($XDG_DATA_HOME is ~/.local/share\n"
         "when unset); a damaged store is moved aside as\n"
         "registry.db.damaged-DATE-TIME"},
        {"$XDG_DATA_HOME/kestrevane/system", "the system folder the frameserver is installed in"},
        {"$XDG_RUNTIME_DIR/KestrevaneAuxEvent",
         "the lock held while Kestrevane or a command that\n"
         "changes jobs runs; the socket\n"
         "KestrevaneAuxEvent.activate lies beside it"},
        {"/usr/lib/kestrevane", "the program folder: the programs and the components\nthey call"}}},
      {"Environment",
       "",
       {{"KESTREVANE_REGISTRY", "the registry store file to use instead of the default"},
        {"XDG_DATA_HOME", "where the registry store and the system folder live"},
        {"XDG_RUNTIME_DIR", "where the lock lives (else $XDG_DATA_HOME/kestrevane)"}}},
      {"Exit status",
       "",
       {{"0", "the command did its work"},
        {"1", "it failed; the message says why (a damaged disc, a\njob that exists...)"},
        {"2", "an argument is wrong; the one line printed names it"}}},
      {"Examples",
       "",
       {{"kestrevane-cli scan /media/dvd", "lists the titles of a disc"},
        {"kestrevane-cli new --name Film --dest ~/Videos --dvd /media/dvd --size 700x2",
         "makes a job of the longest title on two 700 MB volumes"},
        {"kestrevane-cli new --name Series --dest ~/TV --dvd /media/dvd --titles all",
         "one job per program chain of the disc"},
        {"kestrevane-cli move 'Series - VTS_01 PGC 02' first", "puts that job at the top"},
        {"kestrevane-cli encode --all --shutdown", "encodes the queue, then switches off"}}},
  };
  return sections;
}

}  // namespace cli
