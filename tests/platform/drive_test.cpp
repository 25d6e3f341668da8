#include "platform/drive.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace {

using platform::ClassifyFileSystem;
using platform::FileSystemKind;
using platform::FindMount;

// Captured from a desktop with a NAS share, an SSHFS mount, a USB stick and
// a DVD, plus a tmpfs over a folder of the share and a bind mount on top of
// another mount.
constexpr const char* kMountInfo =
    "22 27 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:5 - proc proc rw\n"
    "27 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
    "31 27 259:3 / /home rw,relatime shared:30 - btrfs /dev/nvme0n1p3 rw,space_cache=v2\n"
    "40 27 0:45 / /mnt/nas rw,relatime shared:12 - nfs4 nas:/export/video "
    "rw,vers=4.2,rsize=1048576\n"
    "41 31 0:46 / /home/u/remote rw,nosuid,nodev,relatime shared:13 master:2 - fuse.sshfs "
    "u@host:/data rw,user_id=1000,group_id=1000\n"
    "42 27 8:17 / /media/u/USB\\040STICK rw,nosuid,nodev,relatime shared:14 - vfat /dev/sdb1 "
    "rw,fmask=0022\n"
    "43 40 0:47 / /mnt/nas/scratch rw,relatime shared:15 - tmpfs tmpfs rw,size=1024k\n"
    "44 27 11:0 / /media/u/DVD ro,nosuid,nodev,relatime shared:16 - udf /dev/sr0 ro\n"
    "45 27 0:48 / /mnt/encrypted rw,nosuid,nodev,relatime - fuse.gocryptfs cipher rw\n"
    "46 27 0:49 / /mnt/win rw,relatime - cifs //pc/share rw,vers=3.1.1\n"
    "47 27 259:3 /data /mnt/nas rw,relatime shared:17 - btrfs /dev/nvme0n1p3 rw\n"
    "48 27 0:50 / /mnt/nas2 rw,relatime - fuse.glusterfs gluster:/vol rw\n";

TEST(FindMount, TakesTheLongestMountPointAboveThePath) {
  EXPECT_EQ(FindMount(kMountInfo, "/").type, "ext4");
  EXPECT_EQ(FindMount(kMountInfo, "/usr/share").type, "ext4");
  EXPECT_EQ(FindMount(kMountInfo, "/home/u/film").type, "btrfs");
  const platform::MountEntry remote = FindMount(kMountInfo, "/home/u/remote/dvd/VIDEO_TS");
  EXPECT_EQ(remote.type, "fuse.sshfs");
  EXPECT_EQ(remote.mount_point, "/home/u/remote");
  EXPECT_EQ(remote.source, "u@host:/data");
  EXPECT_EQ(FindMount(kMountInfo, "/home/u/remote").type, "fuse.sshfs");
  // A mount point is a whole folder name, not a prefix of one.
  EXPECT_EQ(FindMount(kMountInfo, "/home/u/remotely").type, "btrfs");
  EXPECT_EQ(FindMount(kMountInfo, "/mnt/nas2/x").type, "fuse.glusterfs");
  // A mount inside a mount.
  EXPECT_EQ(FindMount(kMountInfo, "/mnt/nas/scratch/job").type, "tmpfs");
}

TEST(FindMount, TheLaterOfTwoMountsOnOneFolderIsOnTop) {
  const platform::MountEntry entry = FindMount(kMountInfo, "/mnt/nas/film");
  EXPECT_EQ(entry.type, "btrfs");
  EXPECT_EQ(entry.major, 259u);
  EXPECT_EQ(entry.minor, 3u);
}

TEST(FindMount, DecodesEscapedMountPoints) {
  const platform::MountEntry stick = FindMount(kMountInfo, "/media/u/USB STICK/VIDEO_TS");
  EXPECT_EQ(stick.mount_point, "/media/u/USB STICK");
  EXPECT_EQ(stick.type, "vfat");
  EXPECT_EQ(stick.major, 8u);
  EXPECT_EQ(stick.minor, 17u);
  EXPECT_EQ(FindMount(kMountInfo, "/media/u/USB\\040STICK").type, "ext4");
}

TEST(FindMount, IgnoresBrokenLinesAndFindsNothingInEmptyText) {
  EXPECT_EQ(FindMount("", "/").type, "");
  EXPECT_EQ(FindMount("garbage\n1 2 3\n27 1 8:1 / / rw - \n", "/x").type, "");
  EXPECT_EQ(FindMount("27 1 8:1 / / rw - xfs /dev/sda1 rw", "/x").type, "xfs");  // no final newline
}

TEST(ClassifyFileSystem, KnowsNetworkFileSystemsByMagicOrName) {
  EXPECT_EQ(ClassifyFileSystem(0x6969, "nfs4"), FileSystemKind::Network);
  EXPECT_EQ(ClassifyFileSystem(0x6969, ""), FileSystemKind::Network);
  EXPECT_EQ(ClassifyFileSystem(0xFF534D42, ""), FileSystemKind::Network);  // CIFS
  EXPECT_EQ(ClassifyFileSystem(0xFE534D42, "smb3"), FileSystemKind::Network);
  EXPECT_EQ(ClassifyFileSystem(0x01021997, "9p"), FileSystemKind::Network);
  EXPECT_EQ(ClassifyFileSystem(0x00C36400, "ceph"), FileSystemKind::Network);
  EXPECT_EQ(ClassifyFileSystem(0x5346414F, "afs"), FileSystemKind::Network);
  EXPECT_EQ(ClassifyFileSystem(0x73757245, "coda"), FileSystemKind::Network);
  EXPECT_EQ(ClassifyFileSystem(0, "cifs"), FileSystemKind::Network);
}

TEST(ClassifyFileSystem, TellsFuseMountsApartByTheirSubtype) {
  constexpr uint64_t kFuse = 0x65735546;
  EXPECT_EQ(ClassifyFileSystem(kFuse, "fuse.sshfs"), FileSystemKind::Network);
  EXPECT_EQ(ClassifyFileSystem(kFuse, "fuse.glusterfs"), FileSystemKind::Network);
  EXPECT_EQ(ClassifyFileSystem(kFuse, "fuse.rclone"), FileSystemKind::Network);
  EXPECT_EQ(ClassifyFileSystem(kFuse, "fuse.gocryptfs"), FileSystemKind::Local);
  EXPECT_EQ(ClassifyFileSystem(kFuse, "fuseblk"), FileSystemKind::Local);  // ntfs-3g on a disk
  EXPECT_EQ(ClassifyFileSystem(kFuse, ""), FileSystemKind::Local);
}

TEST(ClassifyFileSystem, LocalAndRemovableFileSystems) {
  EXPECT_EQ(ClassifyFileSystem(0xEF53, "ext4"), FileSystemKind::Local);
  EXPECT_EQ(ClassifyFileSystem(0x58465342, "xfs"), FileSystemKind::Local);
  EXPECT_EQ(ClassifyFileSystem(0x9123683E, "btrfs"), FileSystemKind::Local);
  EXPECT_EQ(ClassifyFileSystem(0x01021994, "tmpfs"), FileSystemKind::Local);
  EXPECT_EQ(ClassifyFileSystem(0x794C7630, "overlay"), FileSystemKind::Local);
  EXPECT_EQ(ClassifyFileSystem(0x9660, "iso9660"), FileSystemKind::Removable);
  EXPECT_EQ(ClassifyFileSystem(0x15013346, ""), FileSystemKind::Removable);  // UDF
}

TEST(Drive, TheTestsOwnFoldersAreOnAFixedLocalDrive) {
  kv_test::TempDir dir;
  EXPECT_TRUE(platform::IsFixedDrive(dir.Path()));
  EXPECT_FALSE(platform::IsNetworkPath(dir.Path()));
  // Only the existing part of the path is examined.
  EXPECT_TRUE(platform::IsFixedDrive(dir.File("job/not/made/yet")));
  EXPECT_FALSE(platform::IsNetworkPath(dir.File("job/not/made/yet")));
  EXPECT_FALSE(platform::IsFixedDrive(""));
  EXPECT_FALSE(platform::IsNetworkPath(""));
}

TEST(Drive, AbsoluteLocalPathsStartWithOneSeparatorAndNeverDoubleIt) {
  EXPECT_TRUE(platform::IsAbsoluteLocalPath("/"));
  EXPECT_TRUE(platform::IsAbsoluteLocalPath("/home/u/dvd/VIDEO_TS"));
  EXPECT_TRUE(platform::IsAbsoluteLocalPath("/home/u/dvd/"));
  EXPECT_FALSE(platform::IsAbsoluteLocalPath("//server/share"));
  EXPECT_FALSE(platform::IsAbsoluteLocalPath("/home//u"));
  EXPECT_FALSE(platform::IsAbsoluteLocalPath("home/u"));
  EXPECT_FALSE(platform::IsAbsoluteLocalPath(""));
}

}  // namespace
