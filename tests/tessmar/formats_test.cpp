// The index format modules: every line a writer makes reads back as written,
// through the text as stored on disk (CR LF); the readers of the outside
// components take the writers' files and refuse damaged ones. The files the
// library writes are compared byte for byte in outputs_test.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tessmar/formats/audio_index.h"
#include "tessmar/formats/cell_index.h"
#include "tessmar/formats/d2v.h"
#include "tessmar/formats/index_text.h"
#include "tessmar/formats/subpicture_index.h"
#include "tessmar/formats/video_index.h"
#include "tessmar/formats/virtual_file.h"
#include "tessmar/formats/virtual_file_map.h"
#include "tessmar/formats/vobsub_index.h"
#include "tests/support/temp_dir.h"

namespace {

namespace f = tessmar::formats;

// The text as a file holds it, read back line by line.
std::vector<std::string> Stored(const std::string& text) {
  kv_test::TempDir dir("formats-test");
  const std::string path = dir.File("t.txt");
  EXPECT_TRUE(f::WriteCrLfFile(path, text));
  const std::string bytes = kv_test::ReadFile(path);
  EXPECT_EQ(bytes.find("\r\r"), std::string::npos);
  std::string read;
  EXPECT_TRUE(f::ReadWholeFile(path, &read));
  return f::SplitLines(read);
}

TEST(IndexFormats, EntryLinesReadBackAsWritten) {
  const uint64_t big = (uint64_t{1} << 40) + 0xabc;
  std::string text;
  f::AppendCellLine(&text, {65535, 255, 8, big});
  f::AppendAudioEntry(&text, {9, 1, 2, big, 0xffffffffu});
  f::AppendSubpictureEntry(&text, {3, 4, 0xfedcba98u, 2048});
  f::AppendGopLineHead(&text, 2, 1234567890123, 7, 8);
  for (unsigned flag : {0x12u, 0x2u, 0x13u}) f::AppendFrameFlag(&text, flag);
  f::AppendGopLineEnd(&text, true);
  const std::vector<std::string> lines = Stored(text);
  ASSERT_EQ(lines.size(), 4u);

  f::CellLine cell;
  ASSERT_TRUE(f::ScanCellLine(lines[0], &cell));
  EXPECT_EQ(lines[0], "65535 255 8 10000000abc");
  EXPECT_EQ(cell.vob_id, 65535);
  EXPECT_EQ(cell.cell_id, 255);
  EXPECT_EQ(cell.file, 8);
  EXPECT_EQ(cell.offset, big);

  f::AudioEntry audio;
  ASSERT_TRUE(f::ScanAudioEntry(lines[1], &audio));
  EXPECT_EQ(audio.file, 9);
  EXPECT_EQ(audio.cell_id, 2);
  EXPECT_EQ(audio.offset, big);
  EXPECT_EQ(audio.length, 0xffffffffu);

  f::SubpictureEntry sub;
  ASSERT_TRUE(f::ScanSubpictureEntry(lines[2], &sub));
  EXPECT_EQ(sub.pts, 0xfedcba98u);
  EXPECT_EQ(sub.offset, 2048u);

  f::GopLineHead gop;
  ASSERT_TRUE(f::ScanGopLine(lines[3], &gop));
  EXPECT_EQ(lines[3], "7 2 1234567890123 7 8 12 2 13 9");
  EXPECT_EQ(gop.file, 2);
  EXPECT_EQ(gop.position, 1234567890123);
  EXPECT_EQ(gop.flags, " 12 2 13");
  EXPECT_TRUE(gop.last);

  // The end mark and the heads are not entries.
  for (const std::string& line : {std::string("."), std::string("qmCellIndex10")}) {
    EXPECT_FALSE(f::ScanCellLine(line, &cell)) << line;
    EXPECT_FALSE(f::ScanAudioEntry(line, &audio)) << line;
    EXPECT_FALSE(f::ScanSubpictureEntry(line, &sub)) << line;
  }
  EXPECT_TRUE(f::IsEndMark(" ."));
  EXPECT_FALSE(f::IsEndMark(".5"));
}

TEST(IndexFormats, HeadsAndFileLists) {
  const std::vector<std::string> paths = {"/dvd/VIDEO_TS/VTS_01_1.VOB", "/dvd/with blank.VOB"};
  std::string text;
  f::AppendCellIndexHead(&text, paths);
  EXPECT_EQ(text, "qmCellIndex10\n2\n/dvd/VIDEO_TS/VTS_01_1.VOB\n/dvd/with blank.VOB\n\n");
  text.clear();
  f::AppendAudioIndexHead(&text, paths);
  EXPECT_EQ(text.substr(0, 15), "qmAudioIndex10\n");
  text.clear();
  f::AppendSubpictureIndexHead(&text);
  EXPECT_EQ(text, "qmSubpictureIndex10\n\n");

  f::D2vHeader header;
  header.paths = paths;
  header.stream_type = f::kProgramStream;
  header.aspect_code = 3;
  header.coded_width = 720;
  header.coded_height = 576;
  header.frame_rate_milli = 25000;
  header.last_file_size = 2048 * 0x1234 + 100;
  text.clear();
  f::AppendD2vHeader(&text, header);
  const std::vector<std::string> lines = Stored(text);
  ASSERT_EQ(lines.size(), 16u);
  int version = 0;
  EXPECT_TRUE(f::ScanD2vHead(lines[0], &version));
  EXPECT_EQ(version, 6);
  std::string path;
  EXPECT_TRUE(f::ScanD2vPathLine(lines[3], &path));
  EXPECT_EQ(path, paths[1]);
  EXPECT_EQ(lines[5], "Stream_Type=1");
  EXPECT_EQ(lines[10], "Aspect_Ratio=16:9");
  EXPECT_EQ(lines[11], "Picture_Size=720x576");
  EXPECT_EQ(lines[13], "Frame_Rate=25000");
  EXPECT_EQ(lines[14], "Location=0,0,1,1234");
  EXPECT_EQ(lines[15], "");
  for (int code = 0; code <= 5; ++code)
    EXPECT_EQ(f::AspectCode(f::AspectName(code)), code <= 4 ? code : 0);

  text.clear();
  f::AppendD2vTrailer(&text, true, 95.234f);
  EXPECT_EQ(text, "\nFINISHED  95.23% FILM\n");
}

// A video index and its map as the rebuild writes them.
std::string VideoIndexText(const std::string& map_name) {
  std::string text;
  f::AppendVideoIndexHead(&text, 6, map_name);
  text +=
      "Stream_Type=1\niDCT_Algorithm=4 (1:MMX 2:SSEMMX 3:FPU 4:REF 5:SSE2MMX)\n"
      "YUVRGB_Scale=0 (0:TVScale 1:PCScale)\nLuminance_Filter=0,0 (Gamma, Offset)\n"
      "Clipping=0,0,0,0 (ClipLeft, ClipRight, ClipTop, ClipBottom)\nAspect_Ratio=4:3\n"
      "Picture_Size=720x480\nField_Operation=0 (0:None 1:ForcedFILM 2:RawFrames)\n"
      "Frame_Rate=29970\n";
  text += f::kVideoIndexLocation;
  f::AppendVideoIndexGopHead(&text, 0, 1, 1);
  text += " 2 2 12 12";
  f::AppendVideoIndexGopHead(&text, 40960, 1, 2);
  text += " 13 10 11";
  f::AppendVideoIndexEnd(&text, "FINISHED  100.00% FILM");
  return text;
}

TEST(IndexFormats, VideoIndexReadsAsWritten) {
  f::VideoIndex index;
  const std::vector<std::string> lines = Stored(VideoIndexText("title name.vfm"));
  std::string crlf;
  for (const std::string& line : lines) crlf += line + "\r\n";
  ASSERT_TRUE(f::ParseVideoIndex(crlf, &index));
  EXPECT_EQ(index.map_name, "title name.vfm");
  EXPECT_EQ(index.width, 720);
  EXPECT_EQ(index.height, 480);
  EXPECT_EQ(index.frame_rate_milli, 29970);
  EXPECT_EQ(index.aspect_code, 2);
  EXPECT_FALSE(index.pc_scale);
  ASSERT_EQ(index.gops.size(), 2u);
  EXPECT_EQ(index.gops[1].position, 40960);
  EXPECT_EQ(index.gops[1].first_frame, 4);
  EXPECT_EQ(index.flags, (std::vector<uint8_t>{2, 2, 0x12, 0x12, 0x13, 0x10, 0x11}));
  // A map name with a folder, or a length that does not fit, is refused.
  EXPECT_FALSE(f::ParseVideoIndex(VideoIndexText("a/b.vfm"), &index));
  std::string text = VideoIndexText("t.vfm");
  text.replace(text.find("5 t.vfm"), 1, "6");
  EXPECT_FALSE(f::ParseVideoIndex(text, &index));
}

TEST(IndexFormats, VirtualFileMapReadsThroughItsFiles) {
  kv_test::TempDir dir("formats-test");
  const std::string a = dir.File("VTS_01_1.VOB"), b = dir.File("VTS_01_2.VOB");
  kv_test::WriteFile(a, "0123456789");
  kv_test::WriteFile(b, "abcdefghij");
  std::string text;
  f::AppendVirtualFileMapHead(&text, {a, b});
  f::AppendAnchor(&text, -27000);  // an audio map's time lines
  f::AppendSegment(&text, 0, 8, 2);
  f::AppendSegment(&text, 1, 0, 3);
  f::AppendAnchor(&text, 648000000);
  f::AppendSegment(&text, 0, 0, 0);  // empty segments are passed over
  f::AppendSegment(&text, 1, 9, 1);
  text += f::kEndMark;
  const std::string map_path = dir.File("t.vfm");
  ASSERT_TRUE(f::WriteCrLfFile(map_path, text));
  std::string stored;
  ASSERT_TRUE(f::ReadWholeFile(map_path, &stored));

  f::VirtualFileMap map;
  ASSERT_TRUE(f::ParseVirtualFileMap(stored, &map));
  ASSERT_EQ(map.segments.size(), 3u);
  EXPECT_EQ(map.total, 6);
  // Each time line stands for the segment after it.
  ASSERT_EQ(map.anchors.size(), 2u);
  EXPECT_EQ(map.anchors[0].start, 0);
  EXPECT_EQ(map.anchors[0].ticks, -27000);
  EXPECT_EQ(map.anchors[1].start, 5);
  EXPECT_EQ(map.anchors[1].ticks, 648000000);
  int64_t first = 0;
  ASSERT_TRUE(f::ReadFirstAnchor(map_path, &first));
  EXPECT_EQ(first, -27000);
  // A time line must be followed by a segment and hold a signed decimal.
  for (const char* bad :
       {"@ 12\n.", "@ 1x\n1 0 1\n.", "@ +5\n1 0 1\n.", "@\n1 0 1\n.", "@ 1\n@ 2\n1 0 1\n."}) {
    std::string head;
    f::AppendVirtualFileMapHead(&head, {a, b});
    f::VirtualFileMap broken;
    EXPECT_FALSE(f::ParseVirtualFileMap(head + bad, &broken)) << bad;
  }
  f::VirtualFile file;
  ASSERT_TRUE(file.Open(map));
  uint8_t buf[16] = {};
  ASSERT_EQ(file.Read(0, buf, sizeof buf), 6u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 6), "89abcj");
  ASSERT_EQ(file.Read(3, buf, 2), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "bc");
  EXPECT_EQ(file.Read(6, buf, 1), 0u);

  // Without its end mark the map is incomplete; a segment past its file's
  // end means the file changed since.
  EXPECT_FALSE(f::ParseVirtualFileMap(stored.substr(0, stored.size() - 1), &map));
  ASSERT_TRUE(f::ParseVirtualFileMap(stored, &map));
  kv_test::WriteFile(b, "abc");
  EXPECT_FALSE(file.Open(map));
}

TEST(IndexFormats, VobSubIndexReadsAsWritten) {
  f::Rgb palette[f::kPaletteColours];
  for (int i = 0; i < f::kPaletteColours; ++i)
    palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(16 * i), 0xff};
  std::string text;
  f::AppendVobSubHead(&text, 720, 576);
  f::AppendVobSubPalette(&text, palette);
  f::AppendVobSubStream(&text, 3);
  f::AppendVobSubEntriesStart(&text);
  // One hour, two minutes, three seconds and 4 ms.
  const uint32_t t = ((3600 + 120 + 3) * 1000 + 4) * 90;
  f::AppendVobSubTimestamp(&text, t, 0x1800);
  f::AppendVobSubTimestamp(&text, std::numeric_limits<uint32_t>::max(), 0);
  const std::vector<std::string> lines = Stored(text);
  EXPECT_EQ(lines[lines.size() - 2], "timestamp: 01:02:03:004, filepos: 000001800");
  std::string crlf;
  for (const std::string& line : lines) crlf += line + "\r\n";

  f::VobSubIndex index;
  ASSERT_TRUE(f::ParseVobSubIndex(crlf, &index));
  EXPECT_EQ(index.width, 720);
  EXPECT_EQ(index.height, 576);
  EXPECT_EQ(index.stream, 3);
  EXPECT_EQ(index.palette[15].red, 15);
  EXPECT_EQ(index.palette[15].green, 240);
  EXPECT_EQ(index.palette[15].blue, 255);
  ASSERT_EQ(index.entries.size(), 2u);
  EXPECT_EQ(index.entries[0].milliseconds, (3600 + 120 + 3) * 1000 + 4);
  EXPECT_EQ(index.entries[0].file_position, 0x1800u);
  // The 32-bit tick count wraps within the day; hours print modulo 60.
  EXPECT_EQ(index.entries[1].milliseconds, ((13 * 60 + 15) * 60 + 21) * 1000 + 858);
  EXPECT_FALSE(f::ParseVobSubIndex("# other file\r\n", &index));
}

}  // namespace
