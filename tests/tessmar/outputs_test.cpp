// The index and rebuild outputs of every sample disc, byte for byte, against
// the digests in expected_outputs.txt, which this test writes itself:
//
//   KV_WRITE_EXPECTED=tests/tessmar/expected_outputs.txt
//       build/default/tests/tessmar_outputs_tests   (one command line)
//
// Every title set is indexed with audio and sub-pictures wanted, every
// program chain rebuilt with angle 0 and 1. The discs are reached through a
// folder of a fixed-length name, so the paths inside the files read the same
// on every run. A disc whose VOB and IFO bytes differ from those the digests
// were made from is skipped with a note: its outputs cannot be compared.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dvd/ifo_reader.h"
#include "tessmar/include/tessmar.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace {

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

uint32_t Crc(const std::string& bytes, uint32_t crc = 0) {
  return static_cast<uint32_t>(
      crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

std::string Hex(const void* data, size_t size) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(b, sizeof b, "%02x", static_cast<const uint8_t*>(data)[i]);
    s += b;
  }
  return s;
}

// A folder /tmp/kvoutXXXXXX (always the same length) holding a link to the
// sample discs and the work folder; the random part reads as XXXXXX in the
// digests.
class FixedRoot {
 public:
  FixedRoot() {
    char name[] = "/tmp/kvoutXXXXXX";
    if (mkdtemp(name)) path_ = name;
  }
  ~FixedRoot() {
    if (!path_.empty()) kv_test::RemoveTree(path_);
  }
  const std::string& Path() const { return path_; }
  std::string Normalise(std::string text) const {
    for (size_t at = text.find(path_); at != std::string::npos; at = text.find(path_, at))
      text.replace(at, path_.size(), "/tmp/kvoutXXXXXX");
    return text;
  }

 private:
  std::string path_;
};

// Index and rebuild outputs of one disc: "name size crc" lines, results
// first. Also the digest of its input bytes.
struct DiscOutputs {
  std::string inputs;
  std::vector<std::string> lines;
};

DiscOutputs MakeOutputs(const FixedRoot& root, const std::string& disc) {
  DiscOutputs result;
  const std::string video_ts = root.Path() + "/d/" + disc + "/VIDEO_TS";
  const std::string work = root.Path() + "/w/" + disc;
  kv_test::MakeFolders(work);
  uint32_t input_crc = 0;
  for (const std::string& name : Entries(video_ts))
    input_crc = Crc(name, Crc(kv_test::ReadFile(video_ts + "/" + name), input_crc));
  result.inputs = Hex(&input_crc, sizeof input_crc);

  for (int vts = 1; vts <= 99; ++vts) {
    char name[32];
    std::vector<std::string> vobs;
    for (int k = 1; k <= 9; ++k) {
      std::snprintf(name, sizeof name, "/VTS_%02d_%d.VOB", vts, k);
      if (access((video_ts + name).c_str(), F_OK) == 0) vobs.push_back(video_ts + name);
    }
    std::snprintf(name, sizeof name, "/VTS_%02d_0.IFO", vts);
    const std::string ifo = video_ts + name;
    if (vobs.empty() && access(ifo.c_str(), F_OK) != 0) break;
    std::snprintf(name, sizeof name, "/vts%02d", vts);
    const std::string vts_base = work + name;
    TessmarStatus status{};
    const int started =
        kv_test::IndexAndWait(vobs, vts_base, true, true, &status);  // files with a gap too
    status.thread = 0;
    result.lines.push_back(std::string(name + 1) + " Tessmar " + std::to_string(started) +
                           " status " + Hex(&status, sizeof status));
    std::unique_ptr<dvd::IfoFile> file = dvd::IfoFile::OpenPath(ifo);
    const int pgcs = file ? std::max(file->PgcCount(), 1) : 1;
    for (int pgc = 1; pgc <= pgcs; ++pgc) {
      for (int angle = 0; angle <= 1; ++angle) {
        char title[64];
        std::snprintf(title, sizeof title, "/vts%02d_pgc%02d_a%d", vts, pgc, angle);
        const int ok =
            qmRebuild(vts_base.c_str(), ifo.c_str(), (work + title).c_str(), 1, 1, 1, pgc, angle);
        result.lines.push_back(std::string(title + 1) + " qmRebuild " + std::to_string(ok));
      }
    }
  }
  for (const std::string& name : Entries(work)) {
    const std::string text = root.Normalise(kv_test::ReadFile(work + "/" + name));
    char line[160];
    std::snprintf(line, sizeof line, "%s %zu %08x", name.c_str(), text.size(), Crc(text));
    result.lines.push_back(line);
  }
  return result;
}

// expected_outputs.txt: "disc <name> inputs <crc>" then that disc's lines.
using Expected = std::map<std::string, DiscOutputs>;

Expected ReadExpected(const std::string& path) {
  Expected expected;
  std::ifstream in(path);
  std::string line, disc;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string first, name, inputs_word, inputs;
    words >> first;
    if (first == "disc" && (words >> name >> inputs_word >> inputs)) {
      disc = name;
      expected[disc].inputs = inputs;
    } else if (!disc.empty()) {
      expected[disc].lines.push_back(line);
    }
  }
  return expected;
}

TEST(TessmarOutputs, EverySampleDiscAsRecorded) {
  const std::string samples = kv_test::SampleDvdRoot();
  if (!IsFolder(samples)) GTEST_SKIP() << "no sample discs at " << samples;
  FixedRoot root;
  ASSERT_FALSE(root.Path().empty());
  ASSERT_EQ(symlink(samples.c_str(), (root.Path() + "/d").c_str()), 0);

  std::vector<std::string> discs;
  for (const std::string& name : Entries(samples))
    if (IsFolder(samples + "/" + name + "/VIDEO_TS")) discs.push_back(name);
  ASSERT_FALSE(discs.empty());

  if (const char* out = std::getenv("KV_WRITE_EXPECTED")) {
    std::ofstream file(out);
    file << "# Index and rebuild outputs of the sample discs: results, then name, size and\n"
            "# CRC-32 of every file. Written by tessmar_outputs_tests (see outputs_test.cpp).\n";
    for (const std::string& disc : discs) {
      DiscOutputs o = MakeOutputs(root, disc);
      file << "disc " << disc << " inputs " << o.inputs << "\n";
      for (const std::string& line : o.lines) file << line << "\n";
    }
    ASSERT_TRUE(file.good()) << out;
    return;
  }

  const Expected expected = ReadExpected(KV_EXPECTED_OUTPUTS);
  ASSERT_FALSE(expected.empty()) << KV_EXPECTED_OUTPUTS;
  for (const auto& [disc, want] : expected) {
    SCOPED_TRACE(disc);
    if (std::find(discs.begin(), discs.end(), disc) == discs.end()) {
      ADD_FAILURE() << "sample disc missing";
      continue;
    }
    DiscOutputs got = MakeOutputs(root, disc);
    if (got.inputs != want.inputs) {
      std::printf("note: %s differs from the disc the digests were made from; not compared\n",
                  disc.c_str());
      continue;
    }
    EXPECT_EQ(got.lines, want.lines);
  }
  for (const std::string& disc : discs)
    if (!expected.count(disc)) std::printf("note: no digests for sample disc %s\n", disc.c_str());
}

}  // namespace
