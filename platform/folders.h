#pragma once

#include <string>

namespace platform {

// The folder of the running executable, ending in exactly one "/".
std::string ProgramFolder();

// The system folder, without a trailing "/": $XDG_DATA_HOME/kestrevane/system
// (created when missing); empty when it cannot be had.
std::string SystemFolder();

// Scratch space of the user, without a trailing "/": $XDG_CACHE_HOME/kestrevane
// (created when missing); empty when it cannot be had.
std::string CacheFolder();

}  // namespace platform
