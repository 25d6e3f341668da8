// A damaged registry store is recovered: the damaged file is kept beside a
// fresh store under a dated name, untouched, and the fresh store holds what
// could still be read and nothing that was not there.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <regex>
#include <set>
#include <string>

#include "platform/registry_store.h"
#include "tests/platform/registry_test_util.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::RegistryRoot;
using platform::RegistryStore;

constexpr RegistryRoot kLM = RegistryRoot::LocalMachine;

// Every key and value line of a dump, each with the key it belongs to.
std::set<std::string> Lines(const std::string& dump) {
  std::set<std::string> lines;
  std::string key, line;
  for (char c : dump + "\n") {
    if (c != '\n') {
      line += c;
      continue;
    }
    if (!line.empty() && line[0] == '[') key = line;
    if (!line.empty()) lines.insert(key + " " + line);
    line.clear();
  }
  return lines;
}

class RegistryRecovery : public ::testing::Test {
 protected:
  // A store with a job list long enough to fill many pages; closed, so its
  // journal is in the file.
  void SetUp() override {
    auto store = RegistryStore::Open(path_);
    ASSERT_TRUE(store);
    for (int i = 0; i < 400; ++i) {
      const std::string key = "Software\\Orvalen\\Kestrevane\\Jobs\\" + std::to_string(i);
      ASSERT_TRUE(store->CreateKey(kLM, key));
      ASSERT_TRUE(store->WriteString(kLM, key, "Name", "Job " + std::to_string(i)));
      ASSERT_TRUE(store->WriteString(kLM, key, "Path", "/jobs/" + std::string(100, 'p')));
      ASSERT_TRUE(store->WriteDWord(kLM, key, "Done", static_cast<uint32_t>(i % 2)));
    }
    original_ = kv_test::DumpKey(*store, kLM, "");
  }

  // Opens with recovery and checks the damaged file kept beside the store.
  std::unique_ptr<RegistryStore> Recover(const std::string& damaged_bytes) {
    std::string error;
    auto store = RegistryStore::OpenOrRecover(path_, &recovery_, &error);
    EXPECT_TRUE(store) << error;
    EXPECT_TRUE(std::regex_match(recovery_.damaged_path,
                                 std::regex(std::regex_replace(path_, std::regex("\\."), "\\.") +
                                            "\\.damaged-\\d{8}-\\d{6}(-\\d+)?")))
        << recovery_.damaged_path;
    EXPECT_FALSE(recovery_.cause.empty());
    if (!damaged_bytes.empty()) {
      EXPECT_TRUE(kv_test::ReadFile(recovery_.damaged_path) == damaged_bytes)
          << "the damaged file is kept as it was found";
    }
    // The fresh store is a healthy one.
    EXPECT_TRUE(RegistryStore::Open(path_));
    return store;
  }

  kv_test::TempDir dir_{"kv-registry-recovery"};
  std::string path_ = dir_.File("registry.db");
  std::string original_;
  RegistryStore::Recovery recovery_;
};

TEST_F(RegistryRecovery, AHealthyStoreIsOpenedAsItIs) {
  std::string error;
  auto store = RegistryStore::OpenOrRecover(path_, &recovery_, &error);
  ASSERT_TRUE(store) << error;
  EXPECT_TRUE(recovery_.damaged_path.empty());
  EXPECT_EQ(kv_test::DumpKey(*store, kLM, ""), original_);
}

TEST_F(RegistryRecovery, GarbageGivesAFreshStoreAndIsKept) {
  std::mt19937 random(4711);
  std::string garbage(40000, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  kv_test::WriteFile(path_, garbage);
  auto store = Recover(garbage);
  ASSERT_TRUE(store);
  EXPECT_EQ(recovery_.keys_recovered, 0);
  EXPECT_EQ(store->SubKeyNames(kLM, ""), std::vector<std::string>{});
  EXPECT_TRUE(store->CreateKey(kLM, "Software\\Orvalen\\Kestrevane\\Jobs"));
}

TEST_F(RegistryRecovery, ATruncatedStoreKeepsWhatCanStillBeRead) {
  const std::string whole = kv_test::ReadFile(path_);
  // A copy or a write cut short: the last three pages (of 4096 bytes) are
  // lost, among them values of the last jobs.
  ASSERT_GT(whole.size(), 8 * 4096u);
  std::string truncated = whole.substr(0, whole.size() - 3 * 4096);
  // And a page of values early in the file is wiped: what follows it counts.
  std::fill_n(truncated.begin() + 7 * 4096, 4096, '\0');
  kv_test::WriteFile(path_, truncated);
  auto store = Recover(truncated);
  ASSERT_TRUE(store);
  const std::set<std::string> kept = Lines(kv_test::DumpKey(*store, kLM, ""));
  const std::set<std::string> before = Lines(original_);
  EXPECT_GT(recovery_.keys_recovered, 20);
  // 1200 values on some 20 pages; a scan that ended at the wiped page would
  // have kept about 60.
  EXPECT_GT(recovery_.values_recovered, 600);
  EXPECT_LT(kept.size(), before.size());
  for (const std::string& line : kept)
    EXPECT_TRUE(before.count(line)) << "not in the store: " << line;
  // Keys keep their order.
  auto jobs = store->SubKeyNames(kLM, "Software\\Orvalen\\Kestrevane\\Jobs");
  ASSERT_TRUE(jobs);
  for (size_t i = 0; i < jobs->size(); ++i) EXPECT_EQ((*jobs)[i], std::to_string(i));
}

// The damaged stores fuzzing found, each recovered into a store that can be
// written: an index entry that disagrees with its table row (every page
// reads well, and only a write near it fails), and a table whose row ids go
// back (a scan read the same rows again without end), and a key whose id
// was lost (restored as key 0, which the store takes for no key at all),
// and a store that was written to before its damage was found, and a
// header whose write version makes every write fail, and a table whose
// stored text names a column the store does not have (read and counted
// well; the first move of a job entry failed).
TEST_F(RegistryRecovery, TheFuzzersDamagedStoresAreRecovered) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(KV_REGISTRY_FINDINGS))
    names.push_back(entry.path().string());
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string bytes = kv_test::ReadFile(name);
    kv_test::WriteFile(path_, bytes);
    auto store = Recover(bytes);
    ASSERT_TRUE(store);
    // A start writes below the keys it finds.
    for (const RegistryRoot root : {kLM, RegistryRoot::ClassesRoot}) {
      const auto keys = store->SubKeyNames(root, "");
      ASSERT_TRUE(keys);
      for (const std::string& key : *keys) {
        EXPECT_TRUE(store->CreateKey(root, key + "\\Written")) << key;
        EXPECT_TRUE(store->DeleteKey(root, key)) << key;
      }
    }
    EXPECT_TRUE(store->CreateKey(kLM, "Software\\Orvalen\\Kestrevane\\Jobs\\0"));
    store.reset();
    std::remove(recovery_.damaged_path.c_str());
  }
}

TEST_F(RegistryRecovery, AFolderInItsPlaceIsMovedAsideWithItsContents) {
  ASSERT_EQ(std::remove(path_.c_str()), 0);
  kv_test::WriteFile(path_ + "/inside.txt", "kept");
  auto store = Recover("");
  ASSERT_TRUE(store);
  EXPECT_EQ(kv_test::ReadFile(recovery_.damaged_path + "/inside.txt"), "kept");
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(RegistryRecovery, EachDamageGetsItsOwnDatedFile) {
  kv_test::WriteFile(path_, "first damage, long enough to be no database at all.........");
  ASSERT_TRUE(Recover(""));
  const std::string first = recovery_.damaged_path;
  kv_test::WriteFile(path_, "second damage, long enough to be no database at all........");
  ASSERT_TRUE(Recover(""));
  EXPECT_NE(recovery_.damaged_path, first);
  EXPECT_EQ(kv_test::ReadFile(first).substr(0, 12), "first damage");
  EXPECT_EQ(kv_test::ReadFile(recovery_.damaged_path).substr(0, 13), "second damage");
}

// What is not damage is left alone: the start cannot go on, and says why.
TEST_F(RegistryRecovery, WhatCannotBeOpenedIsNeitherMovedNorReplaced) {
  kv_test::WriteFile(dir_.File("plain"), "x");
  std::string error;
  const std::string unreachable = dir_.File("plain/registry.db");
  EXPECT_FALSE(RegistryStore::OpenOrRecover(unreachable, &recovery_, &error));
  EXPECT_NE(error.find(unreachable), std::string::npos) << error;
  EXPECT_NE(error.find("cannot create its folder"), std::string::npos) << error;

  // Another program's database at the store's path.
  const std::string other = dir_.File("other.db");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  const std::string bytes = kv_test::ReadFile(other);
  EXPECT_FALSE(RegistryStore::OpenOrRecover(other, &recovery_, &error));
  EXPECT_NE(error.find("not a registry store"), std::string::npos) << error;
  EXPECT_TRUE(recovery_.damaged_path.empty());
  EXPECT_EQ(kv_test::ReadFile(other), bytes);
}

}  // namespace
