#pragma once

#include <string>

namespace kv_test {

// The folder that holds the sample DVD folders made by tests/fixtures
// (each one a DVD folder with a VIDEO_TS sub-folder). Tests that use them
// are registered with DVDS so the fixture runs first.
std::string SampleDvdRoot();

// SampleDvdRoot() + "/" + name + "/VIDEO_TS".
std::string SampleVideoTs(const std::string& name);

}  // namespace kv_test
