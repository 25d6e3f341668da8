#include "outside/producer/output_path.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

namespace producer {
namespace {

// The folder part of a path ("." when it has none) and the name after it.
struct PathParts {
  std::string folder;
  std::string name;
};

PathParts Split(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::string Parent(const std::string& canonical) {
  const size_t slash = canonical.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : canonical.substr(0, slash);
}

// The same file: the same path, or the same inode for a file that exists.
bool SameFile(const std::string& canonical_a, const std::string& b) {
  if (canonical_a.empty()) return false;
  if (canonical_a == Canonical(b)) return true;
  struct stat sa, sb;
  return ::stat(canonical_a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

bool CheckOutputPath(const std::string& job_path, const std::string& input,
                     const std::string& output, std::string* error) {
  const std::string job_canonical = Canonical(Split(job_path).folder);
  const PathParts output_parts = Split(output);
  const std::string& name = output_parts.name;
  const std::string output_canonical = Canonical(output_parts.folder);
  if (name.empty() || name == "." || name == "..") {
    *error = "the output \"" + output + "\" names no file";
    return false;
  }
  if (output_canonical.empty() || job_canonical.empty() ||
      (output_canonical != job_canonical && output_canonical != Parent(job_canonical))) {
    *error = "the output \"" + output +
             "\" lies outside the job's folder: it must be in the job file's folder or the one "
             "above it";
    return false;
  }
  const std::string target = output_canonical + (output_canonical == "/" ? "" : "/") + name;
  if (SameFile(target, input) || SameFile(target, job_path)) {
    *error = "the output \"" + output + "\" would overwrite the input script or the job file";
    return false;
  }
  return true;
}

}  // namespace producer
