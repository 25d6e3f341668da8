// frameserver_script_seeds <corpus>: the scripts the wizard's job writer
// makes, as starting inputs for the script language: every way of treating
// the picture (inverse telecine at each film share, deinterlacing, crops)
// with every sound format, burnt-in subtitles, PAL TruSpeed, the volumes of
// a split job and the preview. Each script is written as it is and once more
// with the plug-ins' functions replaced by built-in ones of the same shape
// (a blank clip of the title's size for a source, the clip itself for a
// filter), since the target evaluates without plug-ins.
#include <cstdio>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/plain_job_settings.h"
#include "wizard/job_settings.h"
#include "wizard/job_writer.h"

namespace {

using wizard::ChannelModeKind;
using wizard::CropModeKind;
using wizard::EncodeModeKind;
using wizard::JobSettings;

using Change = std::function<void(JobSettings&)>;

Change Audio(int stream, int format, int channels, ChannelModeKind mode, int delay_ms = 0,
             int gain_step = 0) {
  return [=](JobSettings& s) {
    s.Facts.AudioStreams = {kv_test::AudioStream(stream, format, channels, delay_ms)};
    s.HasAudio = true;
    s.AudioTrack = 0;
    s.ChannelMode = mode;
    s.GainEnabled = gain_step != 0;
    s.GainStep = gain_step;
  };
}

Change Telecine(float film_share, bool top_first, bool complex, bool deinterlace = false) {
  return [=](JobSettings& s) {
    s.Ivtc = true;
    s.IvtcComplex = complex;
    s.Facts.FilmShare = film_share;
    s.TopFieldFirst = top_first;
    s.Deinterlace = s.DeinterlaceFull = deinterlace;
  };
}

// The script with the plug-ins' functions made built-in ones.
std::string WithoutPlugins(std::string text) {
  static const std::pair<std::regex, const char*> kReplacements[] = {
      {std::regex("LoadPlugin\\([^)]*\\)\r\n"), ""},
      {std::regex("qmVideoSource\\([^)]*\\)"),
       "BlankClip(length=300, width=720, height=576, fps=25)"},
      {std::regex("qmAudio\\w*Source\\([^)]*\\)"), "BlankClip(length=300, fps=25, tone=440)"},
      {std::regex("(Telecide|FieldDeinterlace|VobSub)\\(video[^)]*\\)"), "video"},
      {std::regex("\\.Decimate\\([^)]*\\)"), ""},
  };
  for (const auto& [pattern, replacement] : kReplacements)
    text = std::regex_replace(text, pattern, replacement);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus>\n", argv[0]);
    return 2;
  }
  const std::vector<Change> pictures = {
      [](JobSettings&) {},
      Telecine(98, true, false),
      Telecine(100, true, true),
      Telecine(95, false, true),
      Telecine(94.9f, true, true),
      Telecine(50, false, true),
      Telecine(49.9f, true, true),
      Telecine(60, true, true, true),
      [](JobSettings& s) { s.Deinterlace = true; },
      [](JobSettings& s) { s.Deinterlace = s.DeinterlaceFull = true; },
  };
  const std::vector<Change> sounds = {
      [](JobSettings&) {},
      Audio(2, 1, 6, ChannelModeKind::Stereo),
      Audio(1, 2, 6, ChannelModeKind::Multichannel),
      Audio(7, 3, 2, ChannelModeKind::Mono),
      Audio(0, 1, 6, ChannelModeKind::Surround, -80),
      Audio(1, 4, 2, ChannelModeKind::Mono, 33, -60),
      Audio(0, 1, 2, ChannelModeKind::Stereo, 0, 7),
  };
  const std::vector<Change> extras = {
      [](JobSettings&) {},
      [](JobSettings& s) {
        s.CropMode = CropModeKind::Manual;
        s.CropRect = {72, 0, 720, 432};
      },
      [](JobSettings& s) {
        s.CropMode = CropModeKind::Auto;
        s.CropRect = {0, 8, 704, 576};
      },
      [](JobSettings& s) {
        s.Facts.SubtitleStreams = {{0, 0x656E}, {3, 0x6672}};
        s.HasSubtitles = s.SubtitlesEnabled = true;
        s.SubtitleTrack = 1;
      },
      [](JobSettings& s) { s.PalTruSpeed = true; },
      [](JobSettings& s) { s.VolumeCount = 2; },
  };

  std::set<std::string> scripts;
  for (const Change& picture : pictures)
    for (const Change& sound : sounds)
      for (const Change& extra : extras) {
        JobSettings s = kv_test::PlainJobSettings();
        picture(s);
        sound(s);
        extra(s);
        for (int volume = 1; volume <= wizard::VolumeCountOf(s); ++volume)
          scripts.insert(wizard::FormatScript(s, "vts01_pgc01_a0", volume, false));
        scripts.insert(wizard::FormatScript(s, "vts01_pgc01_a0", 1, true));
      }
  scripts.erase(std::string());

  const std::string corpus = argv[1];
  int n = 0;
  for (const std::string& script : scripts) {
    for (const std::string& text : {script, WithoutPlugins(script)}) {
      const std::string path = corpus + "/job_writer_" + std::to_string(++n) + ".avs";
      std::FILE* f = std::fopen(path.c_str(), "wb");
      const bool written = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
      if (!f || std::fclose(f) != 0 || !written) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
      }
    }
  }
  std::printf("%d scripts\n", n);
  return 0;
}
