#pragma once

#include <array>
#include <string>
#include <utility>

#include "wizard/job_settings.h"
#include "wizard/title_facts.h"

namespace wizard {

// What the configuration page shows of a title, apart from its controls:
// the rows of the stream information list and the items of the audio and
// sub-picture lists. The command-line front end lists streams with the same
// texts.

// "System", "Resolution", "Display", "Frame rate", "Frame type" and
// "Duration" with their values for the title and the output frame rate and
// duration of `settings`.
using StreamInfoRows = std::array<std::pair<const char*, std::string>, 6>;
StreamInfoRows StreamInformation(const TitleFacts& title, const JobSettings& settings);
inline constexpr int kFrameRateRow = 3;
inline constexpr int kDurationRow = 5;

// "1. Dolby Digital 5.1-ch English (Commentary)": number from 1, format,
// channels, the language unless it is unknown, the commentary mark.
std::string AudioTrackItemText(int index, const PgcAudioEntry& stream);
// "1. English".
std::string SubtitleItemText(int index, const PgcSubtitleEntry& stream);

// The content ratings by Rating.
inline constexpr std::array<const char*, 7> kRatingTexts = {"Not Rated",
                                                            "All Ages",
                                                            "Older Children",
                                                            "Younger Teens",
                                                            "Older Teens (15 & up)",
                                                            "Adult Supervision Recommanded",
                                                            "Adults Only"};

}  // namespace wizard
