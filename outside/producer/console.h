#pragma once

#include <cstdint>
#include <string>

namespace producer {

// The console lines the encoder prints. Progress lines end with a bare
// carriage return, so that a terminal rewrites them in place; the others
// with a carriage return and a line feed.
std::string BannerLine();
std::string StartingLine();
std::string InfoLine(const std::string& text);
std::string ErrorLine(const std::string& text);
std::string WarningLine(const std::string& text);
// The analysis pass at `percent`.
std::string AnalysisLine(int percent);
// The encoding pass `pass` (1 or 2) at `percent`, coding at `kbps`.
std::string EncodingLine(int pass, int percent, int64_t kbps);
std::string DoneLine(const std::string& files, int64_t bytes, double seconds);

// Writes a line to standard output at once.
void Print(const std::string& line);

}  // namespace producer
