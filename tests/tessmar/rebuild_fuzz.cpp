// libFuzzer target for qmRebuild: corrupted cell index, project file, audio
// and sub-picture indexes and IFO bytes. The first input byte picks how the
// rest is used: as edits of a valid title set (byte values written at
// positions), as a cut of it, or as five raw files. Nothing may be written
// outside the title base.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tessmar/include/tessmar.h"
#include "tests/support/fuzz_scratch.h"

namespace {

void Be16(std::string& s, size_t at, unsigned v) {
  s[at] = static_cast<char>(v >> 8);
  s[at + 1] = static_cast<char>(v);
}

// A PAL title set information file: one chain of four cells, the middle two
// an angle block, the last with an STC discontinuity.
std::string Ifo() {
  std::string ifo(4096, '\0');
  std::memcpy(ifo.data(), "DVDVIDEO-VTS", 12);
  ifo[0xCF] = 1;
  ifo[0x200] = 0x10;
  size_t t = 2048, pgc = t + 16;
  Be16(ifo, t, 1);
  Be16(ifo, t + 6, 16 + 0xEC + 28 * 4 - 1);
  ifo[t + 15] = 16;
  ifo[pgc + 3] = 4;
  for (int i = 0; i < 16; ++i) ifo[pgc + 0xA4 + 4 * i + 1] = static_cast<char>(16 * i);
  Be16(ifo, pgc + 0xE8, 0xEC);
  Be16(ifo, pgc + 0xEA, 0xEC + 24 * 4);
  const int modes[4] = {0, 1, 3, 0};
  for (int c = 0; c < 4; ++c) {
    ifo[pgc + 0xEC + 24 * c] = static_cast<char>(modes[c] << 6 | (c == 3 ? 2 : 0));
    ifo[pgc + 0xEC + 24 * c + 6] = 0x01;
    ifo[pgc + 0xEC + 24 * c + 7] = 0x52;
    Be16(ifo, pgc + 0xEC + 96 + 4 * c, 1);
    ifo[pgc + 0xEC + 96 + 4 * c + 3] = static_cast<char>(c + 1);
  }
  return ifo;
}

std::vector<std::string> Template(const std::string& vob) {
  std::string qmci = "qmCellIndex10\r\n1\r\n" + vob + "\r\n\r\n1 1 0 0\r\n1 2 0 2000\r\n1 3 0 " +
                     "4000\r\n1 4 0 6000\r\n\r\n.";
  std::string d2v = "DGIndexProjectFile06\r\n1\r\n" + std::to_string(vob.size()) + " " + vob +
                    "\r\n\r\nStream_Type=1\r\na\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\nh\r\nLocation=0,"
                    "0,0,4\r\n\r\n7 0 2048 1 1 2 12\r\n7 0 10240 1 2 12\r\n7 0 18432 1 3 "
                    "12\r\n7 0 26624 1 4 12 12 9\r\n\r\nFINISHED  0.00% FILM\r\n";
  std::string qmai = "qmAudioIndex10\r\n1\r\n" + vob + "\r\n\r\n0 1 1 100 20\r\n0 1 3 4100 " +
                     "20\r\n0 1 4 6100 20\r\n\r\n.";
  std::string qmsi = "qmSubpictureIndex10\r\n\r\n1 1 1234 0\r\n1 4 5678 800\r\n\r\n.";
  return {Ifo(), qmci, d2v, qmai, qmsi};
}

bool Allowed(const std::string& name) {
  static const char* const kFixed[] = {"VTS_01_1.VOB", "VTS_01_0.IFO", "v.qmci", "v.d2v",
                                       "v_at0.qmai",   "v_st0.qmsi",   "t.vfm",  "t.qmvi",
                                       "t_at0.vfm",    "t_st0.idx"};
  for (const char* f : kFixed)
    if (name == f) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dir = kv_test::FuzzScratchFolder("tessmar-rebuild-fuzz");
  const std::string vob = dir + "/VTS_01_1.VOB";
  static bool vob_written = false;
  if (!vob_written) {
    kv_test::PutFuzzFile(vob, std::string(8 * 2048, '\0'));
    vob_written = true;
  }
  std::vector<std::string> files = Template(vob);
  int mode = size > 0 ? data[0] % 3 : 0;
  const uint8_t* p = size > 0 ? data + 1 : data;
  size_t left = size > 0 ? size - 1 : 0;
  if (mode == 0) {
    // Edits: (file, position 16 bits, value) triples.
    for (; left >= 4; p += 4, left -= 4) {
      std::string& f = files[p[0] % files.size()];
      if (f.empty()) continue;
      f[((size_t{p[1]} << 8) | p[2]) % f.size()] = static_cast<char>(p[3]);
    }
  } else if (mode == 1) {
    // Cuts: (file, new length 16 bits).
    for (; left >= 3; p += 3, left -= 3) {
      std::string& f = files[p[0] % files.size()];
      f.resize(std::min(f.size(), (size_t{p[1]} << 8) | p[2]));
    }
  } else {
    // Raw: the rest split into five files at equal parts.
    for (size_t i = 0; i < files.size(); ++i) {
      size_t part = i + 1 == files.size() ? left : left / (files.size() - i);
      files[i].assign(reinterpret_cast<const char*>(p), part);
      p += part;
      left -= part;
    }
  }
  const char* names[] = {"/VTS_01_0.IFO", "/v.qmci", "/v.d2v", "/v_at0.qmai", "/v_st0.qmsi"};
  for (size_t i = 0; i < files.size(); ++i) kv_test::PutFuzzFile(dir + names[i], files[i]);
  int angle = size > 1 ? data[size - 1] % 4 : 0;
  qmRebuild((dir + "/v").c_str(), (dir + "/VTS_01_0.IFO").c_str(), (dir + "/t").c_str(), 1, 1, 1, 1,
            angle);

  for (const std::string& name : kv_test::FuzzFolderEntries(dir)) {
    if (!Allowed(name)) {
      std::fprintf(stderr, "unexpected output %s\n", name.c_str());
      std::abort();
    }
  }
  return 0;
}
