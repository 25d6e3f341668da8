#include "tessmar/formats/index_text.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tessmar::formats {

bool ReadWholeFile(const std::string& path, std::string* text) {
  text->clear();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text->append(buf, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool WriteCrLfFile(const std::string& path, const std::string& text) {
  std::string bytes;
  bytes.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') bytes.push_back('\r');
    bytes.push_back(c);
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

LineReader::~LineReader() {
  if (file_) std::fclose(file_);
}

bool LineReader::Open(const std::string& path) {
  if (file_) std::fclose(file_);
  text_.clear();
  at_ = 0;
  file_ = std::fopen(path.c_str(), "rb");
  return file_ != nullptr;
}

bool LineReader::Fill() {
  if (!file_) return false;
  text_.erase(0, at_);
  at_ = 0;
  char buf[65536];
  const size_t n = std::fread(buf, 1, sizeof buf, file_);
  if (n == 0) {
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  text_.append(buf, n);
  return true;
}

bool LineReader::Next(std::string* line) {
  size_t end;
  while ((end = text_.find('\n', at_)) == std::string::npos) {
    if (!Fill()) break;
  }
  if (at_ >= text_.size()) return false;
  if (end == std::string::npos) end = text_.size();
  line->assign(text_, at_, end - at_);
  if (!line->empty() && line->back() == '\r') line->pop_back();
  at_ = end + 1;
  return true;
}

bool LineReader::NextNonEmpty(std::string* line) {
  while (Next(line))
    if (!line->empty()) return true;
  return false;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  LineReader reader(text);
  std::string line;
  while (reader.Next(&line)) lines.push_back(line);
  return lines;
}

void FieldScan::Space() {
  while (*p_ == ' ' || *p_ == '\t') ++p_;
}

bool FieldScan::Dec(int* out) {
  int64_t v;
  if (!Dec64(&v) || v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int>(v);
  return true;
}

bool FieldScan::Dec64(int64_t* out) {
  Space();
  const bool negative = *p_ == '-';
  if (*p_ == '-' || *p_ == '+') ++p_;
  if (*p_ < '0' || *p_ > '9') return false;
  uint64_t v = 0;
  for (; *p_ >= '0' && *p_ <= '9'; ++p_) {
    // Far below the 64-bit limits, so that positions can be added safely.
    if (v > (uint64_t{1} << 58)) return false;
    v = v * 10 + static_cast<uint64_t>(*p_ - '0');
  }
  *out = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  return true;
}

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool FieldScan::Hex64(uint64_t* out) {
  Space();
  int digits = 0;
  uint64_t v = 0;
  for (;; ++p_, ++digits) {
    const int d = HexDigit(*p_);
    if (d < 0) break;
    if (digits >= 16) return false;
    v = v << 4 | static_cast<uint64_t>(d);
  }
  *out = v;
  return digits > 0;
}

bool FieldScan::Hex32(unsigned* out) {
  uint64_t v;
  if (!Hex64(&v) || v > 0xFFFFFFFFu) return false;
  *out = static_cast<unsigned>(v);
  return true;
}

bool FieldScan::Literal(char c) {
  if (*p_ != c) return false;
  ++p_;
  return true;
}

bool ScanHead(const std::string& line, const char* magic, int* number) {
  const size_t n = std::strlen(magic);
  return line.compare(0, n, magic) == 0 && std::sscanf(line.c_str() + n, "%d", number) == 1;
}

bool ScanInt(const std::string& line, int* number) {
  return std::sscanf(line.c_str(), "%d", number) == 1;
}

bool IsEndMark(const std::string& line) {
  const size_t i = line.find_first_not_of(" \t");
  return i != std::string::npos && line[i] == '.' &&
         (i + 1 == line.size() || line[i + 1] == ' ' || line[i + 1] == '\t');
}

void AppendFileList(std::string* out, const std::vector<std::string>& paths) {
  AppendFileCount(out, static_cast<int>(paths.size()));
  for (const std::string& path : paths) AppendFilePath(out, path);
  AppendFileListEnd(out);
}

void AppendFileCount(std::string* out, int count) {
  AppendFormat(out, "%d\n", count);
}

void AppendFilePath(std::string* out, const std::string& path) {
  AppendFormat(out, "%s\n", path.c_str());
}

void AppendFileListEnd(std::string* out) {
  out->append("\n");
}

namespace {
void AppendVFormat(std::string* out, const char* format, va_list args) {
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    out->append(small, static_cast<size_t>(n));
    return;
  }
  const size_t at = out->size();
  out->resize(at + static_cast<size_t>(n) + 1);
  std::vsnprintf(out->data() + at, static_cast<size_t>(n) + 1, format, args);
  out->resize(at + static_cast<size_t>(n));
}
}  // namespace

std::string Format(const char* format, ...) {
  std::string text;
  va_list args;
  va_start(args, format);
  AppendVFormat(&text, format, args);
  va_end(args);
  return text;
}

void AppendFormat(std::string* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendVFormat(out, format, args);
  va_end(args);
}

void AppendHex(std::string* out, uint64_t value) {
  char buf[16];
  char* p = buf + sizeof buf;
  do {
    *--p = "0123456789abcdef"[value & 15];
    value >>= 4;
  } while (value);
  out->append(p, static_cast<size_t>(buf + sizeof buf - p));
}

void AppendDec(std::string* out, int64_t value) {
  char buf[24];
  char* p = buf + sizeof buf;
  uint64_t v = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    *--p = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  if (value < 0) *--p = '-';
  out->append(p, static_cast<size_t>(buf + sizeof buf - p));
}

}  // namespace tessmar::formats
