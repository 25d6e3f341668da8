// What the text index files have in common: lines ended by CR LF or LF, a
// head line of a magic word and a format number, a list of input files,
// whitespace-separated numbers in decimal and hexadecimal, and the end mark
// "." of a complete file. Texts are built with "\n" line ends; the file
// writer stores each as CR LF.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tessmar::formats {

// Closes a complete file: an empty line end, then ".".
inline constexpr char kEndMark[] = "\n.";

// The whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* text);
// Writes `text` with each "\n" stored as CR LF; false when that fails.
bool WriteCrLfFile(const std::string& path, const std::string& text);

// A text read line by line, from memory or streamed from a file (so that
// reading a file of many megabytes takes no more memory than its longest
// line); CR LF and LF both end a line.
class LineReader {
 public:
  LineReader() = default;
  explicit LineReader(std::string text) : text_(std::move(text)) {}
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  // False when the file cannot be opened.
  bool Open(const std::string& path);
  // The next line without its end, or false at the end of the text.
  bool Next(std::string* line);
  // The next line that is not empty (as formatted reads pass over blank
  // lines).
  bool NextNonEmpty(std::string* line);

 private:
  bool Fill();  // more of the file into text_; false at its end

  std::string text_;  // the text, or the part of the file read and not used
  size_t at_ = 0;
  std::FILE* file_ = nullptr;
};

// Every line of a text, without their ends.
std::vector<std::string> SplitLines(const std::string& text);

// Reads the numbers of an index line in the manner of the formatted reads
// that the lines are written for ("%d", "%I64d", "%x", "%I64x"): blanks
// before each number are passed over, a number ends at its first other
// character.
class FieldScan {
 public:
  explicit FieldScan(const std::string& line) : p_(line.c_str()) {}
  bool Dec(int* out);
  bool Dec64(int64_t* out);
  bool Hex64(uint64_t* out);
  bool Hex32(unsigned* out);
  // The next character, when it is `c`.
  bool Literal(char c);
  // What follows the fields read so far.
  const char* Rest() const { return p_; }

 private:
  void Space();
  const char* p_;
};

// "<magic><number>" read as a formatted read of "<magic>%d" does.
bool ScanHead(const std::string& line, const char* magic, int* number);
// A line read as a formatted read of "%d" does.
bool ScanInt(const std::string& line, int* number);
// The end mark's line: "." as the first word.
bool IsEndMark(const std::string& line);

// The list of input files that heads the cell index, the audio indexes and
// the virtual file maps: the count, each path, an empty line. Also in its
// three parts, for a list copied line by line.
void AppendFileList(std::string* out, const std::vector<std::string>& paths);
void AppendFileCount(std::string* out, int count);
void AppendFilePath(std::string* out, const std::string& path);
void AppendFileListEnd(std::string* out);

// printf into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
void AppendFormat(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Lower-case hexadecimal and decimal digits, without the cost of printf on
// files of hundreds of thousands of lines.
void AppendHex(std::string* out, uint64_t value);
void AppendDec(std::string* out, int64_t value);

}  // namespace tessmar::formats
