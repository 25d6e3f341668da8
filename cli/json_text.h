#pragma once

#include <string>

namespace cli {

// `text` as a JSON string, quotes included: quotes, backslashes and control
// characters escaped, everything else (UTF-8 included) as it is.
std::string JsonString(const std::string& text);

}  // namespace cli
