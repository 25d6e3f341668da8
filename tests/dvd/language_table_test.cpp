#include "dvd/language_table.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

uint16_t Code(const char* letters) {
  return static_cast<uint16_t>(static_cast<uint8_t>(letters[0]) << 8 |
                               static_cast<uint8_t>(letters[1]));
}

TEST(LanguageTable, NamesKnownCodesAndUnknownOthers) {
  EXPECT_STREQ(dvd::LanguageName(0x656E), "English");
  EXPECT_STREQ(dvd::LanguageName(0x0000), "Unknown");
  EXPECT_STREQ(dvd::LanguageName(Code("  ")), "Unknown");
  EXPECT_STREQ(dvd::LanguageName(Code("xx")), "Unknown");
  EXPECT_STREQ(dvd::LanguageName(Code("EN")), "Unknown");  // codes are lower case
  EXPECT_STREQ(dvd::LanguageName(Code("zu")), "Zulu");     // the last row is reached
}

TEST(LanguageTable, NamesAreUtf8) {
  EXPECT_STREQ(dvd::LanguageName(Code("ca")), "Catal\xC3\xA0");
  EXPECT_STREQ(dvd::LanguageName(Code("es")), "Espa\xC3\xB1ol");
  EXPECT_STREQ(dvd::LanguageName(Code("fr")),
               "Fran\xC3\xA7"
               "ais");
}

TEST(LanguageTable, OldAndNewCodesOfRenamedLanguagesBothResolve) {
  EXPECT_STREQ(dvd::LanguageName(Code("he")), dvd::LanguageName(Code("iw")));
  EXPECT_STREQ(dvd::LanguageName(Code("id")), dvd::LanguageName(Code("in")));
  EXPECT_STREQ(dvd::LanguageName(Code("yi")), dvd::LanguageName(Code("ji")));
  EXPECT_STRNE(dvd::LanguageName(Code("he")), "Unknown");
}

// The lookup stops at the end row, so a row out of order or a missing end row
// would make codes vanish or the walk run off the table.
TEST(LanguageTable, RowsAscendUniqueAndEndWithEmptyName) {
  EXPECT_EQ(dvd::LanguageTable[0].code, 0);
  EXPECT_EQ(dvd::LanguageTable[1].code, Code("  "));
  for (int i = 0; i < dvd::kLanguageRows; ++i) {
    const dvd::LanguageRow& row = dvd::LanguageTable[i];
    EXPECT_GT(std::strlen(row.name), 0u) << i;
    EXPECT_LE(std::strlen(row.name), 19u) << row.name;
    if (i > 0) {
      EXPECT_LT(dvd::LanguageTable[i - 1].code, row.code) << row.name;
    }
    if (i > 1) {
      EXPECT_TRUE(row.code >> 8 >= 'a' && row.code >> 8 <= 'z') << row.name;
      EXPECT_TRUE((row.code & 0xFF) >= 'a' && (row.code & 0xFF) <= 'z') << row.name;
    }
    EXPECT_STREQ(dvd::LanguageName(row.code), row.name);
  }
  EXPECT_STREQ(dvd::LanguageTable[dvd::kLanguageRows].name, "");
}

}  // namespace
