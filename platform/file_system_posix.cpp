// File system services on POSIX: attributes as mode bits and name, copies
// that never leave a partial target, renames that never replace.
#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <QChar>
#include <QList>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace platform {
namespace {

bool StatPath(const std::string& path, struct stat* st) {
  return !path.empty() && ::stat(path.c_str(), st) == 0;
}

// The last component of a path, trailing slashes ignored.
std::string BaseName(const std::string& path) {
  std::string::size_type end = path.find_last_not_of('/');
  if (end == std::string::npos) return path.empty() ? std::string() : std::string("/");
  std::string::size_type start = path.rfind('/', end);
  start = start == std::string::npos ? 0 : start + 1;
  return path.substr(start, end - start + 1);
}

std::string ParentFolder(const std::string& path) {
  std::string::size_type end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  std::string::size_type slash = path.rfind('/', end);
  if (slash == std::string::npos) return ".";
  std::string::size_type parent_end = path.find_last_not_of('/', slash);
  return parent_end == std::string::npos ? std::string("/") : path.substr(0, parent_end + 1);
}

bool IsHiddenName(const std::string& name) {
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

// Code points folded to one case, so that matching ignores case beyond ASCII.
std::u32string Folded(const std::string& text) {
  const QList<uint> ucs4 =
      QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUcs4();
  std::u32string out;
  out.reserve(static_cast<size_t>(ucs4.size()));
  for (uint c : ucs4) out.push_back(QChar::toCaseFolded(static_cast<char32_t>(c)));
  return out;
}

// Plain "*" / "?" matching with backtracking on the last star.
bool GlobMatch(const std::u32string& pattern, const std::u32string& name) {
  size_t p = 0, n = 0;
  size_t star = std::u32string::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      star = p++;
      star_n = n;
    } else if (star != std::u32string::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

bool CopyContents(int in, int out) {
  for (;;) {
    ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
    if (copied == 0) return true;
    if (copied > 0) continue;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
        errno == EPERM)
      break;
    return false;
  }
  // Plain read/write from wherever copy_file_range stopped.
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < got;) {
      ssize_t wrote = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
      if (wrote < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += wrote;
    }
  }
}

bool FileSystemRejectsNoReplace(int error) {
  return error == EINVAL || error == ENOSYS;
}

// Gives `from` the name `to` unless `to` exists; for files on file systems
// without RENAME_NOREPLACE, a hard link followed by removal of the old name.
bool RenameNoReplace(const std::string& from, const std::string& to, bool is_directory) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (!FileSystemRejectsNoReplace(errno)) return false;
  if (!is_directory) {
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
  }
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0 || errno != ENOENT) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st;
  return StatPath(path, &st) && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return StatPath(path, &st) && S_ISDIR(st.st_mode);
}

std::optional<FileAttributes> GetFileAttributes(const std::string& path) {
  struct stat st;
  if (!StatPath(path, &st)) return std::nullopt;
  FileAttributes attributes;
  attributes.directory = S_ISDIR(st.st_mode);
  attributes.hidden = IsHiddenName(BaseName(path));
  attributes.read_only = (st.st_mode & S_IWUSR) == 0;
  return attributes;
}

bool SetReadOnly(const std::string& path, bool read_only) {
  struct stat st;
  if (!StatPath(path, &st)) return false;
  mode_t mode = st.st_mode & 07777;
  mode = read_only ? (mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  return ::chmod(path.c_str(), mode) == 0;
}

bool ClearFileAttributes(const std::string& path) {
  return SetReadOnly(path, false);
}

std::optional<int64_t> FileSize(const std::string& path) {
  struct stat st;
  if (!StatPath(path, &st) || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<int64_t>(st.st_size);
}

namespace {

// Copies the regular file `from` under a temporary hidden name beside `to`,
// with its permissions (and, with `durable`, its times, flushed to disk);
// the temporary name, or empty on failure (nothing left behind then).
std::string CopyBeside(const std::string& from, const std::string& to, int open_flags,
                       bool durable) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | open_flags);
  if (in < 0) return {};
  struct stat source;
  if (::fstat(in, &source) != 0 || !S_ISREG(source.st_mode)) {
    ::close(in);
    return {};
  }
  std::string temp = JoinPath(ParentFolder(to), ".kv-copy-XXXXXX");
  const int out = ::mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    ::close(in);
    return {};
  }
  bool ok = CopyContents(in, out);
  ok = ok && ::fchmod(out, source.st_mode & 07777) == 0;
  if (ok && durable) {
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    ::futimens(out, times);  // the file's time is kept where it can be
    ok = ::fsync(out) == 0;
  }
  ok = (::close(out) == 0) && ok;
  ::close(in);
  if (ok) return temp;
  ::unlink(temp.c_str());
  return {};
}

}  // namespace

bool CopyFileNoOverwrite(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  struct stat existing;
  if (::lstat(to.c_str(), &existing) == 0 || errno != ENOENT) return false;
  // The copy gets the target's name only when complete.
  const std::string temp = CopyBeside(from, to, 0, true);
  if (temp.empty()) return false;
  const bool ok = RenameNoReplace(temp, to, false);
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool CopyFileReplacing(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  const std::string temp = CopyBeside(from, to, O_NOFOLLOW, false);
  if (temp.empty()) return false;
  const bool ok = ::rename(temp.c_str(), to.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool RenameFile(const std::string& from, const std::string& to) {
  struct stat st;
  if (from.empty() || to.empty() || ::lstat(from.c_str(), &st) != 0) return false;
  return RenameNoReplace(from, to, S_ISDIR(st.st_mode));
}

bool ReplaceFileContents(const std::string& path, const std::string& bytes) {
  std::string temporary = ParentFolder(path) + "/." + BaseName(path) + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  // mkstemp creates 0600; give the file the usual permissions.
  ok = ok && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    // errno stays as the failure set it, for the caller to say why.
    const int error = errno;
    unlink(temporary.c_str());
    errno = error;
  }
  return ok;
}

bool DeleteFile(const std::string& path) {
  struct stat st;
  if (path.empty() || ::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool CreateDirectory(const std::string& path) {
  return !path.empty() && ::mkdir(path.c_str(), 0777) == 0;
}

bool RemoveDirectory(const std::string& path) {
  return !path.empty() && ::rmdir(path.c_str()) == 0;
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  if (pattern == "*" || pattern == "*.*") return true;
  const std::u32string p = Folded(pattern);
  const std::u32string n = Folded(name);
  if (GlobMatch(p, n)) return true;
  if (p.size() >= 2 && p.compare(p.size() - 2, 2, U".*") == 0) {
    return GlobMatch(p.substr(0, p.size() - 2), n);
  }
  if (p.size() >= 2 && p.back() == U'.') {
    return n.find(U'.') == std::u32string::npos && GlobMatch(p.substr(0, p.size() - 1), n);
  }
  return false;
}

std::vector<std::string> FindFiles(const std::string& folder, const std::string& pattern,
                                   SearchKind kind) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (!WildcardMatch(pattern, name)) continue;
    bool is_directory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      is_directory = DirectoryExists(JoinPath(folder.empty() ? "." : folder, name));
    }
    if ((kind == SearchKind::Files && is_directory) ||
        (kind == SearchKind::Directories && !is_directory))
      continue;
    names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::u32string fa = Folded(a), fb = Folded(b);
    return fa != fb ? fa < fb : a < b;
  });
  return names;
}

std::string CurrentFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size())) return buffer.data();
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

bool SetCurrentFolder(const std::string& path) {
  return !path.empty() && ::chdir(path.c_str()) == 0;
}

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  std::string::size_type end = folder.find_last_not_of('/');
  std::string head = end == std::string::npos ? std::string() : folder.substr(0, end + 1);
  std::string::size_type start = name.find_first_not_of('/');
  std::string tail = start == std::string::npos ? std::string() : name.substr(start);
  return head + "/" + tail;
}

}  // namespace platform
