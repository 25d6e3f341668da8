#pragma once

#include <cstdint>

namespace dvd {

// Two-letter language codes of the DVD stream attributes with the names the
// program shows for them.
struct LanguageRow {
  uint16_t code;     // first letter in the high byte
  const char* name;  // UTF-8; empty in the end row
};

inline constexpr int kLanguageRows = 144;

// kLanguageRows rows in ascending code order, then an end row with an empty
// name. Rows 0 and 1 (code 0 and two blanks) are "Unknown".
extern const LanguageRow LanguageTable[kLanguageRows + 1];

// The name of the first row with `code`, "Unknown" when there is none.
const char* LanguageName(uint16_t code);

}  // namespace dvd
