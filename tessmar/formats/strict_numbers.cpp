#include "tessmar/formats/strict_numbers.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tessmar::formats {

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j;
  }
  return words;
}

bool ToInt64(const std::string& s, int base, int64_t* value) {
  if (s.empty() || s[0] == '-' || s[0] == '+' || s[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, base);
  if (errno != 0 || end != s.c_str() + s.size()) return false;
  *value = v;
  return true;
}

bool ToInt(const std::string& s, int base, int* value) {
  int64_t v;
  if (!ToInt64(s, base, &v) || v > INT_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

bool ExactHead(const std::string& line, const char* prefix, int max_version) {
  const size_t n = std::strlen(prefix);
  int version;
  return line.compare(0, n, prefix) == 0 && ToInt(line.substr(n), 10, &version) &&
         version <= max_version;
}

}  // namespace tessmar::formats
