// Drive types from statfs and /proc/self/mountinfo: a fixed drive is a
// local file system on a non-removable device; network file systems are
// known by their magic number or, for FUSE, by the subtype in mountinfo.
#include "platform/drive.h"

#include <limits.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/file_system.h"

namespace platform {
namespace {

// f_type values (linux/magic.h and the file systems' own headers).
constexpr uint64_t kNfsMagic = 0x6969;
constexpr uint64_t kSmbMagic = 0x517B;
constexpr uint64_t kCifsMagic = 0xFF534D42;
constexpr uint64_t kSmb2Magic = 0xFE534D42;
constexpr uint64_t kCodaMagic = 0x73757245;
constexpr uint64_t kAfsSuperMagic = 0x5346414F;
constexpr uint64_t kAfsFsMagic = 0x6B414653;
constexpr uint64_t kV9fsMagic = 0x01021997;
constexpr uint64_t kCephMagic = 0x00C36400;
constexpr uint64_t kNcpMagic = 0x564C;
constexpr uint64_t kLustreMagic = 0x0BD00BD0;
constexpr uint64_t kOrangeFsMagic = 0x20030528;
constexpr uint64_t kIsoFsMagic = 0x9660;
constexpr uint64_t kUdfMagic = 0x15013346;

constexpr std::array<uint64_t, 12> kNetworkMagics = {
    kNfsMagic,   kSmbMagic,  kCifsMagic, kSmb2Magic, kCodaMagic,   kAfsSuperMagic,
    kAfsFsMagic, kV9fsMagic, kCephMagic, kNcpMagic,  kLustreMagic, kOrangeFsMagic};

// Kernel file system names and FUSE subtypes ("fuse.<subtype>") of file
// systems served by another machine.
constexpr std::array<std::string_view, 37> kNetworkNames = {
    "nfs",      "nfs4",     "cifs",    "smb3",      "smbfs",   "smb2",      "ncpfs",      "ncp",
    "afs",      "coda",     "9p",      "ceph",      "cephfs",  "ceph-fuse", "glusterfs",  "lustre",
    "orangefs", "pvfs2",    "gpfs",    "beegfs",    "davfs",   "davfs2",    "sshfs",      "s3fs",
    "rclone",   "gcsfuse",  "goofys",  "curlftpfs", "httpfs",  "httpdirfs", "gvfsd-fuse", "mfs",
    "moosefs",  "lizardfs", "juicefs", "s3ql",      "smbnetfs"};

constexpr std::array<std::string_view, 2> kRemovableNames = {"iso9660", "udf"};

template <size_t N>
bool Contains(const std::array<std::string_view, N>& names, std::string_view name) {
  for (std::string_view n : names)
    if (n == name) return true;
  return false;
}

std::string DecodeOctalEscapes(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      bool octal = true;
      int value = 0;
      for (size_t k = 1; k <= 3; ++k) {
        const char c = field[i + k];
        if (c < '0' || c > '7') octal = false;
        value = value * 8 + (c - '0');
      }
      if (octal) {
        out.push_back(static_cast<char>(value));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (pos >= line.size()) break;
    size_t end = line.find(' ', pos);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  return fields;
}

bool MountPointHolds(std::string_view mount_point, std::string_view path) {
  if (mount_point == "/") return !path.empty() && path[0] == '/';
  if (path.size() < mount_point.size() || path.substr(0, mount_point.size()) != mount_point)
    return false;
  return path.size() == mount_point.size() || path[mount_point.size()] == '/';
}

std::string ReadWholeFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The nearest existing folder or file at or above `path`, made absolute and
// free of symbolic links; empty when not even the root can be examined.
std::string NearestExisting(const std::string& path) {
  if (path.empty()) return std::string();
  std::string current = path[0] == '/' ? path : JoinPath(CurrentFolder(), path);
  for (;;) {
    char resolved[PATH_MAX];
    if (::realpath(current.c_str(), resolved)) return resolved;
    if (current == "/" || current.empty()) return std::string();
    std::string::size_type end = current.find_last_not_of('/');
    if (end == std::string::npos) return std::string();
    std::string::size_type slash = current.rfind('/', end);
    current = (slash == std::string::npos || slash == 0) ? "/" : current.substr(0, slash);
  }
}

// A device the system marks removable (/sys/dev/block/M:m/removable, or the
// whole disk's flag for a partition).
bool IsRemovableDevice(dev_t device) {
  const std::string link =
      "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  char resolved[PATH_MAX];
  if (!::realpath(link.c_str(), resolved)) return false;  // no block device (tmpfs, btrfs, ...)
  std::string folder = resolved;
  for (int level = 0; level < 2; ++level) {
    std::ifstream flag(folder + "/removable");
    if (flag) {
      int value = 0;
      flag >> value;
      return value == 1;
    }
    std::string::size_type slash = folder.rfind('/');
    if (slash == std::string::npos || slash == 0) break;
    folder = folder.substr(0, slash);
  }
  return false;
}

struct Examined {
  bool exists = false;
  FileSystemKind kind = FileSystemKind::Local;
  dev_t device = 0;
};

Examined Examine(const std::string& path) {
  Examined result;
  const std::string existing = NearestExisting(path);
  if (existing.empty()) return result;
  struct statfs fs;
  struct stat st;
  if (::statfs(existing.c_str(), &fs) != 0 || ::stat(existing.c_str(), &st) != 0) return result;
  const MountEntry mount = FindMount(ReadWholeFile("/proc/self/mountinfo"), existing);
  result.exists = true;
  result.kind = ClassifyFileSystem(static_cast<uint64_t>(fs.f_type), mount.type);
  result.device = st.st_dev;
  return result;
}

}  // namespace

FileSystemKind ClassifyFileSystem(uint64_t magic, std::string_view type_name) {
  std::string_view name = type_name;
  for (std::string_view prefix : {std::string_view("fuse."), std::string_view("fuseblk.")}) {
    if (name.substr(0, prefix.size()) == prefix) name.remove_prefix(prefix.size());
  }
  for (uint64_t m : kNetworkMagics)
    if (m == magic) return FileSystemKind::Network;
  if (Contains(kNetworkNames, name)) return FileSystemKind::Network;
  if (magic == kIsoFsMagic || magic == kUdfMagic || Contains(kRemovableNames, name))
    return FileSystemKind::Removable;
  return FileSystemKind::Local;
}

MountEntry FindMount(std::string_view mountinfo, std::string_view path) {
  MountEntry best;
  bool found = false;
  size_t pos = 0;
  while (pos < mountinfo.size()) {
    size_t end = mountinfo.find('\n', pos);
    if (end == std::string_view::npos) end = mountinfo.size();
    const std::vector<std::string_view> fields = SplitFields(mountinfo.substr(pos, end - pos));
    pos = end + 1;
    // id parent major:minor root mount-point options [optional...] - type source super
    if (fields.size() < 7) continue;
    size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-") ++separator;
    if (separator + 1 >= fields.size()) continue;  // no type after the separator
    const std::string mount_point = DecodeOctalEscapes(fields[4]);
    if (!MountPointHolds(mount_point, path)) continue;
    if (found && mount_point.size() < best.mount_point.size()) continue;
    MountEntry entry;
    entry.mount_point = mount_point;
    entry.type = DecodeOctalEscapes(fields[separator + 1]);
    if (separator + 2 < fields.size()) entry.source = DecodeOctalEscapes(fields[separator + 2]);
    const std::string_view device = fields[2];
    const size_t colon = device.find(':');
    if (colon != std::string_view::npos) {
      entry.major = static_cast<unsigned>(
          std::strtoul(std::string(device.substr(0, colon)).c_str(), nullptr, 10));
      entry.minor = static_cast<unsigned>(
          std::strtoul(std::string(device.substr(colon + 1)).c_str(), nullptr, 10));
    }
    best = std::move(entry);
    found = true;
  }
  return best;
}

bool IsFixedDrive(const std::string& path) {
  const Examined examined = Examine(path);
  if (!examined.exists || examined.kind != FileSystemKind::Local) return false;
  return !IsRemovableDevice(examined.device);
}

bool IsNetworkPath(const std::string& path) {
  const Examined examined = Examine(path);
  return examined.exists && examined.kind == FileSystemKind::Network;
}

bool IsAbsoluteLocalPath(const std::string& path) {
  return !path.empty() && path[0] == '/' && path.find("//") == std::string::npos;
}

}  // namespace platform
