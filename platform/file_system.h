#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// File attributes as the program uses them: hidden = the name starts with
// ".", read-only = the owner has no write bit.
struct FileAttributes {
  bool directory = false;
  bool hidden = false;
  bool read_only = false;
};

bool FileExists(const std::string& path);       // a regular file (links followed)
bool DirectoryExists(const std::string& path);  // a folder (links followed)
std::optional<FileAttributes> GetFileAttributes(const std::string& path);
bool SetReadOnly(const std::string& path, bool read_only);
// Clears all attributes a file can have here: gives the owner the write bit
// back. Hidden-ness belongs to the name and stays.
bool ClearFileAttributes(const std::string& path);

// Size in bytes; nullopt when the file cannot be read.
std::optional<int64_t> FileSize(const std::string& path);

// Copies a file; fails if `to` exists. Never leaves a partial `to` behind.
bool CopyFileNoOverwrite(const std::string& from, const std::string& to);
// Copies a regular file over `to`, which is replaced when it exists. Links
// are not followed: a link at `from` fails, one at `to` is replaced. The new
// content appears under `to` only when complete.
bool CopyFileReplacing(const std::string& from, const std::string& to);
// Renames a file or folder; fails if `to` exists.
bool RenameFile(const std::string& from, const std::string& to);
// Writes `bytes` as the whole new content of `path`: into a temporary file
// of the same folder, flushed to disk, then renamed over the old file. A crash
// or a full disk leaves the old content in place; false then, and no
// temporary file remains.
bool ReplaceFileContents(const std::string& path, const std::string& bytes);
bool DeleteFile(const std::string& path);
bool CreateDirectory(const std::string& path);  // one level; false if it exists
bool RemoveDirectory(const std::string& path);  // empty folders only

// What a wildcard search returns.
enum class SearchKind { Files, Directories, Both };

// Names (not paths) in `folder` matching `pattern` ("VTS_??_0.IFO", "*.VOB"),
// matched case-insensitively: "*" any run, "?" one character. Entries "." and
// ".." are never returned; hidden and read-only entries are. Sorted by name
// case-insensitively (as NTFS lists them), ties in byte order.
std::vector<std::string> FindFiles(const std::string& folder, const std::string& pattern,
                                   SearchKind kind = SearchKind::Files);
// The pattern test behind FindFiles. As the Windows search did, "*.*" matches
// every name, a trailing ".*" may also match nothing ("VIDEO.*" matches
// "VIDEO"), and a trailing "." asks for names without a dot ("*." matches
// "README", not "A.TXT").
bool WildcardMatch(const std::string& pattern, const std::string& name);

std::string CurrentFolder();
bool SetCurrentFolder(const std::string& path);

// Joins a folder and a name with exactly one "/" between them.
std::string JoinPath(const std::string& folder, const std::string& name);

// The path without trailing "/" separators; "/" itself stays.
std::string WithoutTrailingSeparators(std::string path);

}  // namespace platform
