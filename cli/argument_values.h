#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/cli_arguments.h"

// Readers of option values: each reads one text into the request and returns
// the one-line error naming the option, or an empty text.
namespace cli {

// The words some options take; the command table offers them to the shell.
extern const std::vector<std::string> kChannelWords;   // --channels
extern const std::vector<std::string> kIvtcWords;      // --ivtc
extern const std::vector<std::string> kCropWords;      // --crop, besides margins
extern const std::vector<std::string> kSplitWords;     // --split, besides a size
extern const std::vector<std::string> kPriorityWords;  // encode --priority
extern const std::vector<std::string> kShutdownWords;  // encode --shutdown=
extern const std::vector<std::string> kWhereWords;     // move JOB WHERE
extern const std::vector<std::string> kClipInfoKeys;   // --title-info KEY=
extern const std::vector<std::string> kAllWords;       // --titles

std::optional<int> ParseInt(const std::string& text);

// `text` must be an integer within [low, high].
std::string ReadRange(const std::string& option, const std::string& text, int low, int high,
                      std::optional<int>& out);

// `text` must be one of `allowed`.
std::string ReadChoice(const std::string& option, const std::string& text,
                       const std::vector<std::string>& allowed);

std::vector<std::string> Split(const std::string& text, char separator);

std::string ReadTitle(const std::string& text, NewJobArguments& out);
std::string ReadMinutes(const std::string& text, NewJobArguments& out);
std::string ReadSize(const std::string& text, NewJobArguments& out);
std::string ReadSplit(const std::string& text, NewJobArguments& out);
std::string ReadCrop(const std::string& text, NewJobArguments& out);
std::string ReadWidth(const std::string& text, NewJobArguments& out);
std::string ReadIvtc(const std::string& text, NewJobArguments& out);
std::string ReadGain(const std::string& text, NewJobArguments& out);
std::string ReadClipInfo(const std::string& text, NewJobArguments& out);
std::string ReadShutdown(const std::string& text, EncodeArguments& out);
std::string ReadMoveWhere(const std::string& text, QueueEditArguments& out);

}  // namespace cli
