#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry_access.h"
#include "platform/registry_store.h"
#include "tests/support/scoped_registry.h"

namespace {

using platform::RegistryAccess;
using platform::RegistryRoot;
using platform::RegistryValueType;
using Names = std::vector<std::string>;

class RegistryAccessTest : public ::testing::Test {
 protected:
  kv_test::ScopedRegistry registry_;
  platform::RegistryStore& store_ = registry_.Store();
  RegistryAccess reg_{store_, RegistryRoot::LocalMachine};
};

TEST_F(RegistryAccessTest, StartsAtTheRoot) {
  EXPECT_EQ(reg_.Root(), RegistryRoot::LocalMachine);
  EXPECT_EQ(&reg_.Store(), &store_);
  EXPECT_FALSE(reg_.HasCurrentKey());
  EXPECT_EQ(reg_.CurrentPath(), "");
  EXPECT_EQ(reg_.Resolve("Software\\Orvalen"), "Software\\Orvalen");
  EXPECT_EQ(reg_.Resolve("\\Software\\\\Orvalen\\"), "Software\\Orvalen");
  EXPECT_EQ(reg_.Resolve(""), "");
}

TEST_F(RegistryAccessTest, OpenKeyWithAndWithoutCreate) {
  EXPECT_FALSE(reg_.OpenKey("Software\\Orvalen\\Kestrevane", false));
  EXPECT_FALSE(reg_.HasCurrentKey());
  EXPECT_FALSE(store_.KeyExists(RegistryRoot::LocalMachine, "Software"));

  ASSERT_TRUE(reg_.OpenKey("Software\\Orvalen\\Kestrevane", true));
  EXPECT_TRUE(reg_.HasCurrentKey());
  EXPECT_EQ(reg_.CurrentPath(), "Software\\Orvalen\\Kestrevane");
  EXPECT_TRUE(store_.KeyExists(RegistryRoot::LocalMachine, "Software\\Orvalen\\Kestrevane"));

  // Relative: below the current key.
  ASSERT_TRUE(reg_.OpenKey("Jobs", true));
  EXPECT_EQ(reg_.CurrentPath(), "Software\\Orvalen\\Kestrevane\\Jobs");
  // Absolute: from the root.
  ASSERT_TRUE(reg_.OpenKey("\\Software\\Orvalen", false));
  EXPECT_EQ(reg_.CurrentPath(), "Software\\Orvalen");

  // A failed open keeps the current key.
  EXPECT_FALSE(reg_.OpenKey("Missing", false));
  EXPECT_EQ(reg_.CurrentPath(), "Software\\Orvalen");
  EXPECT_TRUE(reg_.HasCurrentKey());

  reg_.CloseKey();
  EXPECT_FALSE(reg_.HasCurrentKey());
  EXPECT_EQ(reg_.CurrentPath(), "");
  EXPECT_TRUE(reg_.OpenKey("Software", false));  // relative to the root again
  EXPECT_EQ(reg_.CurrentPath(), "Software");
}

TEST_F(RegistryAccessTest, ValuesOfTheCurrentKey) {
  ASSERT_TRUE(reg_.OpenKey("\\Software\\Orvalen\\Kestrevane\\Jobs", true));
  EXPECT_TRUE(reg_.WriteDWord("Count", 2));
  EXPECT_TRUE(reg_.WriteString("Name", "Holiday"));
  EXPECT_TRUE(reg_.ValueExists("count"));
  EXPECT_FALSE(reg_.ValueExists("Missing"));
  EXPECT_EQ(reg_.ValueType("Count"), RegistryValueType::DWord);
  EXPECT_EQ(reg_.ReadDWord("Count"), 2u);
  EXPECT_FALSE(reg_.ReadString("Count"));
  EXPECT_EQ(reg_.ReadString("Name"), "Holiday");
  EXPECT_EQ(reg_.ValueNames(), (Names{"Count", "Name"}));
  EXPECT_TRUE(reg_.DeleteValue("Name"));
  EXPECT_FALSE(reg_.DeleteValue("Name"));
  EXPECT_EQ(
      store_.ReadDWord(RegistryRoot::LocalMachine, "Software\\Orvalen\\Kestrevane\\Jobs", "Count"),
      2u);
}

TEST_F(RegistryAccessTest, KeyOperationsAreRelative) {
  ASSERT_TRUE(reg_.OpenKey("Software\\Orvalen\\Kestrevane\\Jobs", true));
  ASSERT_TRUE(reg_.OpenKey("3", true));
  ASSERT_TRUE(reg_.WriteString("Name", "x"));
  ASSERT_TRUE(reg_.OpenKey("\\Software\\Orvalen\\Kestrevane\\Jobs", false));
  ASSERT_TRUE(reg_.OpenKey("0", true));
  ASSERT_TRUE(reg_.OpenKey("\\Software\\Orvalen\\Kestrevane\\Jobs", false));

  EXPECT_TRUE(reg_.KeyExists("3"));
  EXPECT_TRUE(reg_.KeyExists("\\Software\\Orvalen"));
  EXPECT_FALSE(reg_.KeyExists("Software"));  // relative: Jobs\Software
  EXPECT_EQ(reg_.SubKeyNames(), (Names{"3", "0"}));

  EXPECT_TRUE(reg_.MoveKey("3", "1"));
  EXPECT_EQ(reg_.SubKeyNames(), (Names{"0", "1"}));
  EXPECT_EQ(store_.ReadString(RegistryRoot::LocalMachine, "Software\\Orvalen\\Kestrevane\\Jobs\\1",
                              "Name"),
            "x");
  EXPECT_TRUE(reg_.MoveKey("1", "\\Backup\\1"));
  EXPECT_TRUE(store_.KeyExists(RegistryRoot::LocalMachine, "Backup\\1"));

  EXPECT_TRUE(reg_.DeleteKey("0"));
  EXPECT_EQ(reg_.SubKeyNames(), Names{});
  EXPECT_FALSE(reg_.DeleteKey("0"));
  EXPECT_TRUE(reg_.DeleteKey("\\Backup"));
  EXPECT_FALSE(store_.KeyExists(RegistryRoot::LocalMachine, "Backup"));
}

TEST_F(RegistryAccessTest, DeletedCurrentKeyMakesOperationsFail) {
  ASSERT_TRUE(reg_.OpenKey("Gone", true));
  ASSERT_TRUE(reg_.DeleteKey("\\Gone"));
  EXPECT_FALSE(reg_.WriteString("A", "b"));
  EXPECT_FALSE(reg_.SubKeyNames());
  EXPECT_FALSE(reg_.ValueNames());
  EXPECT_FALSE(store_.KeyExists(RegistryRoot::LocalMachine, "Gone"));
}

TEST_F(RegistryAccessTest, ClassesRootIsItsOwnTree) {
  RegistryAccess cr(store_, RegistryRoot::ClassesRoot);
  ASSERT_TRUE(cr.OpenKey("Media Type\\Extensions\\.avs", true));
  ASSERT_TRUE(cr.WriteString("", ""));
  ASSERT_TRUE(cr.WriteString("Source Filter", "{D3588AB0-0781-11CE-B03A-0020AF0BA770}"));
  EXPECT_EQ(cr.ValueType(""), RegistryValueType::String);
  EXPECT_FALSE(reg_.KeyExists("Media Type"));
  EXPECT_TRUE(store_.KeyExists(RegistryRoot::ClassesRoot, "media type\\extensions\\.AVS"));
}

TEST_F(RegistryAccessTest, UsesTheProcessStore) {
  // ScopedRegistry installs its store as the default one.
  EXPECT_EQ(platform::RegistryStore::DefaultPath(), registry_.Path());
}

}  // namespace
