#pragma once

#include <string>

namespace kvfs {

bool IsFile(const std::string& path);

// The path of `name` in `folder`: the exact name when it exists, else the
// first entry whose name differs only in case (scripts and registrations
// name the libraries the way a case-blind file system took them); "" when
// neither exists.
std::string FindInFolder(const std::string& folder, const std::string& name);

// The folder part of a path without the trailing "/" ("" for a bare name).
std::string FolderOf(const std::string& path);

}  // namespace kvfs
