// The test harness itself: every binary must be isolated from the user's own
// files, and widget tests must really run on the offscreen platform.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/registry_store.h"
#include "tests/support/scoped_registry.h"
#include "tests/support/temp_dir.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

TEST(HarnessIsolation, DataRuntimeAndRegistryAreInThePrivateTemporaryHome) {
  const std::string temp_base = Env("TMPDIR").empty() ? "/tmp" : Env("TMPDIR");
  for (const char* name : {"XDG_DATA_HOME", "XDG_RUNTIME_DIR", "KESTREVANE_REGISTRY"}) {
    const std::string value = Env(name);
    EXPECT_EQ(value.rfind(temp_base + "/kv-test-home-", 0), 0u) << name << "=" << value;
  }
  EXPECT_EQ(platform::RegistryStore::DefaultPath(), Env("KESTREVANE_REGISTRY"));
}

TEST(HarnessIsolation, ScopedRegistryInstallsItsOwnStoreAndPutsTheOldOneBack) {
  const std::string before = Env("KESTREVANE_REGISTRY");
  std::string inner;
  {
    kv_test::ScopedRegistry registry;
    inner = registry.Path();
    EXPECT_EQ(platform::RegistryStore::DefaultPath(), inner);
    EXPECT_NE(inner, before);
    EXPECT_TRUE(registry.Store().CreateKey(platform::RegistryRoot::LocalMachine, "Software\\Test"));
  }
  EXPECT_EQ(Env("KESTREVANE_REGISTRY"), before);
  EXPECT_FALSE(std::filesystem::exists(inner)) << "the store's folder is removed with it";
}

TEST(HarnessTempDir, RemovesTreesWithReadOnlyEntries) {
  std::string kept;
  {
    kv_test::TempDir dir;
    kept = dir.Path();
    kv_test::WriteFile(dir.File("a/b/c.txt"), "x");
    ASSERT_EQ(chmod(dir.File("a/b/c.txt").c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.File("a/b").c_str(), 0555), 0);
    EXPECT_EQ(kv_test::ReadFile(dir.File("a/b/c.txt")), "x");
  }
  EXPECT_FALSE(std::filesystem::exists(kept));
}

TEST(HarnessWidgets, RunOnTheOffscreenPlatformAndTakeClicksAndKeys) {
  EXPECT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
  QWidget window;
  auto* edit = new QLineEdit(&window);
  edit->setObjectName("NameEdit");
  auto* button = new QPushButton("OK", &window);
  button->setObjectName("OkButton");
  button->move(0, 40);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  QSignalSpy clicked(button, &QPushButton::clicked);
  QTest::keyClicks(window.findChild<QLineEdit*>("NameEdit"), "Job 1");
  QTest::mouseClick(window.findChild<QPushButton*>("OkButton"), Qt::LeftButton);
  EXPECT_EQ(edit->text(), QStringLiteral("Job 1"));
  EXPECT_EQ(clicked.count(), 1);
}

}  // namespace
