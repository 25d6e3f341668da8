#include "app/frameserver_install.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/file_system.h"
#include "tests/support/scoped_registry.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::RegistryRoot;

constexpr const char* kClsid = "CLSID\\{E6D6B700-124D-11D4-86F3-DB80AFD98778}";
constexpr const char* kAvsExtension = "avifile\\Extensions\\avs";
constexpr const char* kMediaType = "Media Type\\Extensions\\.avs";
constexpr const char* kSoftware = "SOFTWARE\\AviSynth";

class FrameserverInstallTest : public ::testing::Test {
 protected:
  FrameserverInstallTest() {
    kv_test::WriteFile(program_ + "/avisynth.dll", "our frameserver");
    kv_test::WriteFile(program_ + "/devil.dll", "our image library");
    kv_test::MakeFolders(system_);
  }

  platform::RegistryStore& Store() { return registry_.Store(); }
  std::string System(const std::string& name) { return system_ + "/" + name; }

  // A frameserver installed on the system before we came.
  void PutForeignInstallation() {
    kv_test::WriteFile(System("avisynth.dll"), "theirs");
    kv_test::WriteFile(System("devil.dll"), "their devil");
    ASSERT_TRUE(
        Store().CreateKey(RegistryRoot::ClassesRoot, std::string(kClsid) + "\\InProcServer32"));
    ASSERT_TRUE(Store().WriteString(RegistryRoot::ClassesRoot, kClsid, "", "Their AviSynth"));
    ASSERT_TRUE(Store().WriteString(RegistryRoot::ClassesRoot,
                                    std::string(kClsid) + "\\InProcServer32", "",
                                    "C:/their/avisynth.dll"));
    ASSERT_TRUE(Store().CreateKey(RegistryRoot::LocalMachine, kSoftware));
    ASSERT_TRUE(Store().WriteString(RegistryRoot::LocalMachine, kSoftware, "", "/their/folder"));
    ASSERT_TRUE(Store().WriteDWord(RegistryRoot::LocalMachine, kSoftware, "Version", 25));
  }

  kv_test::TempDir dir_;
  std::string program_ = dir_.File("program");
  std::string system_ = dir_.File("system");
  kv_test::ScopedRegistry registry_;
  app::FrameserverInstallation installation_{Store(), system_};
};

TEST_F(FrameserverInstallTest, OnACleanSystemInstallsEverythingAndExitRemovesAllOfIt) {
  ASSERT_TRUE(installation_.InstallFrameserver(program_ + "///"));
  EXPECT_EQ(kv_test::ReadFile(System("avisynth.dll")), "our frameserver");
  EXPECT_EQ(kv_test::ReadFile(System("devil.dll")), "our image library");
  EXPECT_EQ(Store().ReadString(RegistryRoot::ClassesRoot, kClsid, ""), "AviSynth");
  EXPECT_EQ(Store().ReadString(RegistryRoot::ClassesRoot, std::string(kClsid) + "\\InProcServer32",
                               "ThreadingModel"),
            "Apartment");
  EXPECT_EQ(Store().ReadString(RegistryRoot::ClassesRoot, kAvsExtension, ""),
            "{E6D6B700-124D-11D4-86F3-DB80AFD98778}");
  EXPECT_EQ(Store().ReadString(RegistryRoot::ClassesRoot, kMediaType, ""), "");
  EXPECT_EQ(Store().ReadString(RegistryRoot::ClassesRoot, kMediaType, "Source Filter"),
            "{D3588AB0-0781-11CE-B03A-0020AF0BA770}");
  EXPECT_EQ(Store().ReadString(RegistryRoot::LocalMachine, kSoftware, "plugindir2_5"), program_);
  EXPECT_EQ(Store().ReadString(RegistryRoot::LocalMachine, kSoftware, "tempinst"),
            "Temporary Installation");

  ASSERT_TRUE(installation_.UninstallFrameserver());
  EXPECT_TRUE(fs::is_empty(system_)) << "no files and no backups are left";
  for (const char* key : {kClsid, kAvsExtension, kMediaType})
    EXPECT_FALSE(Store().KeyExists(RegistryRoot::ClassesRoot, key)) << key;
  EXPECT_FALSE(Store().KeyExists(RegistryRoot::ClassesRoot, std::string(kClsid) + "-bak"));
  EXPECT_FALSE(Store().KeyExists(RegistryRoot::LocalMachine, kSoftware));
}

TEST_F(FrameserverInstallTest, AnExistingInstallationIsBackedUpAndComesBackWhole) {
  PutForeignInstallation();
  ASSERT_TRUE(installation_.InstallFrameserver(program_));
  EXPECT_EQ(kv_test::ReadFile(System("avisynth.dll.bak")), "theirs");
  EXPECT_EQ(Store().ReadString(RegistryRoot::ClassesRoot, std::string(kClsid) + "-bak", ""),
            "Their AviSynth");
  EXPECT_EQ(
      Store().ReadDWord(RegistryRoot::LocalMachine, std::string(kSoftware) + "-bak", "Version"),
      25u);

  ASSERT_TRUE(installation_.UninstallFrameserver());
  EXPECT_EQ(kv_test::ReadFile(System("avisynth.dll")), "theirs");
  EXPECT_EQ(kv_test::ReadFile(System("devil.dll")), "their devil");
  EXPECT_FALSE(fs::exists(System("avisynth.dll.bak")));
  EXPECT_EQ(
      Store().ReadString(RegistryRoot::ClassesRoot, std::string(kClsid) + "\\InProcServer32", ""),
      "C:/their/avisynth.dll");
  EXPECT_EQ(Store().ReadDWord(RegistryRoot::LocalMachine, kSoftware, "Version"), 25u);
  EXPECT_EQ(Store().ValueType(RegistryRoot::LocalMachine, kSoftware, "tempinst"),
            platform::RegistryValueType::None);
  EXPECT_FALSE(Store().KeyExists(RegistryRoot::ClassesRoot, kAvsExtension));
}

TEST_F(FrameserverInstallTest, AfterACrashTheNextStartRestoresThePreviousStateFirst) {
  PutForeignInstallation();
  ASSERT_TRUE(installation_.InstallFrameserver(program_));
  // The program died here: no uninstall. The next start installs again.
  app::FrameserverInstallation next_start(Store(), system_);
  ASSERT_TRUE(next_start.InstallFrameserver(program_));
  EXPECT_EQ(kv_test::ReadFile(System("avisynth.dll.bak")), "theirs")
      << "the backup is still the foreign file, not our own copy";
  EXPECT_EQ(Store().ReadString(RegistryRoot::ClassesRoot, std::string(kClsid) + "-bak", ""),
            "Their AviSynth");
  ASSERT_TRUE(next_start.UninstallFrameserver());
  EXPECT_EQ(kv_test::ReadFile(System("avisynth.dll")), "theirs");
}

TEST_F(FrameserverInstallTest, AMissingLibraryChangesNothing) {
  PutForeignInstallation();
  ASSERT_TRUE(platform::DeleteFile(program_ + "/devil.dll"));
  EXPECT_FALSE(installation_.InstallFrameserver(program_));
  EXPECT_EQ(kv_test::ReadFile(System("avisynth.dll")), "theirs");
  EXPECT_FALSE(fs::exists(System("avisynth.dll.bak")));
  EXPECT_EQ(Store().ReadString(RegistryRoot::ClassesRoot, kClsid, ""), "Their AviSynth");
  EXPECT_TRUE(installation_.UninstallFrameserver()) << "no marker: nothing to undo";
}

TEST_F(FrameserverInstallTest, AReadOnlyLeftoverWithAnOlderBackupIsReplaced) {
  // A start that died while installing: targets present, backups present, no marker.
  kv_test::WriteFile(System("avisynth.dll"), "leftover");
  kv_test::WriteFile(System("avisynth.dll.bak"), "original");
  ASSERT_EQ(chmod(System("avisynth.dll").c_str(), 0444), 0);
  ASSERT_TRUE(installation_.InstallFrameserver(program_));
  EXPECT_EQ(kv_test::ReadFile(System("avisynth.dll")), "our frameserver");
  EXPECT_EQ(kv_test::ReadFile(System("avisynth.dll.bak")), "original");
  ASSERT_TRUE(installation_.UninstallFrameserver());
  EXPECT_EQ(kv_test::ReadFile(System("avisynth.dll")), "original");
}

TEST_F(FrameserverInstallTest, AnUnknownSystemFolderFailsWithoutTouchingTheRegistry) {
  app::FrameserverInstallation nowhere(Store(), "");
  EXPECT_FALSE(nowhere.InstallFrameserver(program_));
  EXPECT_FALSE(Store().KeyExists(RegistryRoot::LocalMachine, kSoftware));
}

}  // namespace
