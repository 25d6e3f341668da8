#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// A path on a local, non-removable, non-network file system (the existing
// part of the path is examined).
bool IsFixedDrive(const std::string& path);

// A path on a network file system (NFS, CIFS/SMB, SSHFS and other network
// FUSE mounts).
bool IsNetworkPath(const std::string& path);

// An absolute path with no doubled separator, as a drive-letter path was.
bool IsAbsoluteLocalPath(const std::string& path);

// The classification behind the three tests, as pure functions of what the
// kernel reports, so that captured /proc/self/mountinfo text can be examined.
enum class FileSystemKind {
  Local,      // a disk-backed or memory file system of this machine
  Removable,  // a medium made to be taken out (optical disc file systems)
  Network,    // served by another machine
};

// `magic` is statfs's f_type; `type_name` the type from mountinfo ("ext4",
// "nfs4", "fuse.sshfs"), empty when unknown. Either one saying network or
// removable decides; FUSE mounts are known by their name only.
FileSystemKind ClassifyFileSystem(uint64_t magic, std::string_view type_name);

// One line of /proc/self/mountinfo, the fields the classification needs.
struct MountEntry {
  std::string mount_point;  // octal escapes ("\040") decoded
  std::string type;         // "ext4", "fuse.sshfs"
  std::string source;       // "/dev/sda1", "server:/export"
  unsigned major = 0, minor = 0;
};

// The mount that holds `path` (absolute, without symbolic links): the entry
// with the longest mount point that is `path` or a folder above it; of equal
// ones the last, which is mounted on top. Empty type when nothing matches.
MountEntry FindMount(std::string_view mountinfo, std::string_view path);

}  // namespace platform
