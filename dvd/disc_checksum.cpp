#include "dvd/disc_checksum.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "platform/file_system.h"

namespace dvd {
namespace {

struct NumberedFile {
  std::string upper;  // the upper-cased name, also the sort key
  std::string name;   // as found on disk
  int n = 0;
  int m = 0;
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Files matching `pattern` whose upper-cased name reads as `format` with
// `numbers` integers (the whole name consumed), sorted by upper-cased name.
std::vector<NumberedFile> FindNumbered(const std::string& folder, const char* pattern,
                                       const char* format, int numbers) {
  std::vector<NumberedFile> files;
  for (const std::string& name : platform::FindFiles(folder, pattern)) {
    NumberedFile file{Upper(name), name};
    int used = -1;
    int read = numbers == 1 ? std::sscanf(file.upper.c_str(), format, &file.n, &used)
                            : std::sscanf(file.upper.c_str(), format, &file.n, &file.m, &used);
    if (read == numbers && used == static_cast<int>(file.upper.size())) files.push_back(file);
  }
  std::sort(files.begin(), files.end(),
            [](const NumberedFile& a, const NumberedFile& b) { return a.upper < b.upper; });
  return files;
}

// `name` in `folder` whatever its case on disk; empty when absent.
std::string FindExact(const std::string& folder, const std::string& name) {
  std::string path = platform::JoinPath(folder, name);
  if (platform::FileExists(path)) return path;
  std::vector<std::string> found = platform::FindFiles(folder, name);
  return found.empty() ? std::string() : platform::JoinPath(folder, found.front());
}

bool AddFileContents(DiscChecksum& value, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  std::vector<uint8_t> bytes;
  bool ok = true;
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    if (bytes.size() + got > static_cast<size_t>(kMaxChecksumFileSize)) {
      ok = false;
      break;
    }
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  if (std::ferror(file)) ok = false;
  std::fclose(file);
  if (ok) value = AddToChecksum(value, bytes);
  return ok;
}

bool AddFileSize(DiscChecksum& value, const std::string& path) {
  std::optional<int64_t> size = platform::FileSize(path);
  if (!size) return false;
  uint8_t bytes[8];
  uint64_t v = static_cast<uint64_t>(*size);
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
  value = AddToChecksum(value, bytes);
  return true;
}

void AddByte(DiscChecksum& value, int number) {
  uint8_t byte = static_cast<uint8_t>(number & 0xFF);
  value = AddToChecksum(value, std::span<const uint8_t>(&byte, 1));
}

}  // namespace

DiscChecksum AddToChecksum(DiscChecksum value, std::span<const uint8_t> bytes) {
  uLong crc = value;
  const uint8_t* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    uInt chunk = static_cast<uInt>(std::min<size_t>(left, 1u << 30));
    crc = crc32(crc, data, chunk);
    data += chunk;
    left -= chunk;
  }
  return static_cast<DiscChecksum>(crc);
}

std::optional<DiscChecksum> ComputeDiscChecksum(const std::string& dvd_folder) {
  std::string folder = dvd_folder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  DiscChecksum value = kDiscChecksumStart;

  if (std::string path = FindExact(folder, "VIDEO_TS.IFO"); !path.empty()) {
    if (!AddFileContents(value, path)) return std::nullopt;
  }
  for (const NumberedFile& ifo : FindNumbered(folder, "VTS_??_0.IFO", "VTS_%d_0.IFO%n", 1)) {
    AddByte(value, ifo.n);
    if (!AddFileContents(value, platform::JoinPath(folder, ifo.name))) return std::nullopt;
  }
  // A missing "VIDEO_TS.VOB" adds nothing at all: stored checksums of such
  // discs depend on exactly that, so it must stay this way.
  if (std::string path = FindExact(folder, "VIDEO_TS.VOB"); !path.empty()) {
    if (!AddFileSize(value, path)) return std::nullopt;
  }
  for (const NumberedFile& vob : FindNumbered(folder, "VTS_??_?.VOB", "VTS_%d_%d.VOB%n", 2)) {
    AddByte(value, vob.n);
    AddByte(value, vob.m);
    if (!AddFileSize(value, platform::JoinPath(folder, vob.name))) return std::nullopt;
  }
  return value;
}

}  // namespace dvd
