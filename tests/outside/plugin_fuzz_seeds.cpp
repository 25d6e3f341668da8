// plugin_fuzz_seeds audio|vobsub <corpus>: starting inputs for qmaudio_fuzz
// or vobsub_fuzz from the sample discs as tessmar cuts them: the first
// payloads of every audio stream of pal_sync and ntsc_multi with a map over
// them, or the sub-picture index and stream of ntsc_multi.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tessmar/formats/virtual_file_map.h"
#include "tests/outside/plugin_test_util.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace {

// The first `segments` ranges of an audio map, copied into one stream, and a
// map over that stream with the same ranges.
bool AudioSeed(const std::string& map_path, int segments, std::string* map, std::string* stream) {
  const std::vector<std::string> lines = kv_test::CrLfLines(kv_test::ReadFile(map_path));
  if (lines.size() < 4) return false;
  const size_t files = std::stoul(lines[1]);
  std::vector<std::FILE*> open;
  for (size_t f = 0; f < files; ++f) open.push_back(std::fopen(lines[2 + f].c_str(), "rb"));
  std::string text;
  tessmar::formats::AppendVirtualFileMapHead(&text, {"@STREAM@"});
  int taken = 0;
  for (size_t i = 3 + files; i < lines.size() && taken < segments; ++i) {
    std::istringstream in(lines[i]);
    size_t file;
    std::string offset, length;
    if (!(in >> file >> offset >> length) || file >= files || !open[file]) continue;
    std::string chunk(std::stoul(length, nullptr, 16), '\0');
    std::fseek(open[file], static_cast<long>(std::stoull(offset, nullptr, 16)), SEEK_SET);
    chunk.resize(std::fread(chunk.data(), 1, chunk.size(), open[file]));
    tessmar::formats::AppendSegment(&text, 0, stream->size(), chunk.size());
    *stream += chunk;
    ++taken;
  }
  for (std::FILE* f : open)
    if (f) std::fclose(f);
  *map = text + "\n.";
  return taken > 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string kind = argc == 3 ? argv[1] : "";
  if (kind != "audio" && kind != "vobsub") {
    std::fprintf(stderr, "usage: %s audio|vobsub <corpus>\n", argv[0]);
    return 2;
  }
  const std::string corpus = argv[2];
  kv_test::MakeFolders(corpus);
  kv_test::TempDir work("plugin-seeds");
  int written = 0;
  // Choice bytes: codec in bits 0-1 (AC-3, DTS, MPEG audio, LPCM), then the
  // channels (LPCM: bits, channel count).
  struct Audio {
    const char* disc;
    int stream;
    uint8_t choice;
  };
  for (const Audio& a :
       {Audio{"pal_sync", 0, 0x04}, Audio{"pal_sync", 1, 0x01}, Audio{"pal_sync", 2, 0x1B},
        Audio{"pal_sync", 3, 0x02}, Audio{"ntsc_multi", 0, 0x08}, Audio{"ntsc_multi", 1, 0x13}}) {
    const bool subpictures = std::string(a.disc) == "ntsc_multi" && a.stream == 0;
    if (kind == "vobsub" && !subpictures) continue;
    kv_test::PluginTitle t;
    const std::string folder = work.File(std::string(a.disc));
    kv_test::MakeFolders(folder);
    if (!kv_test::PreparePluginTitle(folder, a.disc, 1, 1, &t)) return 1;
    if (kind == "audio") {
      std::string map, stream;
      if (!AudioSeed(t.Path("_at" + std::to_string(a.stream) + ".vfm"), 6, &map, &stream)) return 1;
      kv_test::WriteFile(corpus + "/" + a.disc + "_at" + std::to_string(a.stream),
                         std::string(1, static_cast<char>(a.choice)) + map + '\0' + stream);
      ++written;
    } else {
      const std::string idx = kv_test::ReadFile(t.Path("_st0.idx"));
      const std::string sub = kv_test::ReadFile(t.Path("_st0.sub"));
      for (char choice : {'\x00', '\x03', '\x41'}) {
        kv_test::WriteFile(corpus + "/ntsc_multi_st0_" + std::to_string(static_cast<int>(choice)),
                           std::string(1, choice) + idx + '\0' + sub);
        ++written;
      }
    }
  }
  std::printf("%d seeds\n", written);
  return 0;
}
