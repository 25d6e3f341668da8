#pragma once

#include <string>

namespace platform {

// A path on a local, non-removable, non-network file system (the existing
// part of the path is examined).
bool IsFixedDrive(const std::string& path);

// A path on a network file system (NFS, CIFS/SMB, SSHFS and other network
// FUSE mounts).
bool IsNetworkPath(const std::string& path);

// An absolute path with no doubled separator, as a drive-letter path was.
bool IsAbsoluteLocalPath(const std::string& path);

}  // namespace platform
