#include "wizard/config_texts.h"

#include <cstdio>
#include <cstring>

#include "dvd/language_table.h"
#include "wizard/settings_tables.h"

namespace wizard {

namespace {

// An unknown language is left out of the item texts.
bool KnownLanguage(const char* name) {
  return std::strcmp(name, "Unknown") != 0;
}

}  // namespace

StreamInfoRows StreamInformation(const TitleFacts& title, const JobSettings& settings) {
  char resolution[32];
  std::snprintf(resolution, sizeof resolution, "%dx%d", title.PictureWidth, title.PictureHeight);
  return {{{"System", title.PalVideo ? "PAL" : "NTSC"},
           {"Resolution", resolution},
           {"Display", title.Widescreen ? "16:9 Wide" : "4:3"},
           {"Frame rate", FormatFrameRate(settings.FrameRate)},
           {"Frame type", title.Progressive ? "Progressive" : "Interlaced"},
           {"Duration", FormatDuration(settings.Duration)}}};
}

std::string AudioTrackItemText(int index, const PgcAudioEntry& stream) {
  char part[64];
  std::snprintf(part, sizeof part, "%d. %s ", index + 1, AudioFormatOf(stream.Format).Name);
  std::string text = part;
  if (stream.Channels == 6 || stream.Channels == 8) {
    std::snprintf(part, sizeof part, "%d.1-ch ", stream.Channels - 1);
  } else {
    std::snprintf(part, sizeof part, "%d-ch ", stream.Channels);
  }
  text += part;
  const char* language = dvd::LanguageName(stream.Language);
  if (KnownLanguage(language)) text += std::string(language) + " ";
  if (stream.CodeExtension == 3) text += "(Commentary)";
  return text;
}

std::string SubtitleItemText(int index, const PgcSubtitleEntry& stream) {
  char number[16];
  std::snprintf(number, sizeof number, "%d. ", index + 1);
  return number + std::string(dvd::LanguageName(stream.Language));
}

}  // namespace wizard
