// Whole words as numbers, for the files the decoding components read: a
// word that is not entirely a number in the given base is refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessmar::formats {

// The words of a line, split at blanks.
std::vector<std::string> Words(const std::string& line);
// Without sign; false on anything else or on overflow.
bool ToInt64(const std::string& word, int base, int64_t* value);
bool ToInt(const std::string& word, int base, int* value);
// "<prefix><number>" with a number of at most `max_version`.
bool ExactHead(const std::string& line, const char* prefix, int max_version);

}  // namespace tessmar::formats
