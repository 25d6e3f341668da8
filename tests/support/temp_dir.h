#pragma once

#include <string>

namespace kv_test {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when
// the object goes. Read-only entries inside are removed too.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "kv-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path() + "/" + relative.
  std::string File(const std::string& relative) const;

 private:
  std::string path_;
};

// mkdir -p.
void MakeFolders(const std::string& path);
// Writes `content` to `path` (binary, as given), creating parent folders.
void WriteFile(const std::string& path, const std::string& content);
// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Deletes a tree, restoring write bits where needed.
void RemoveTree(const std::string& path);

}  // namespace kv_test
