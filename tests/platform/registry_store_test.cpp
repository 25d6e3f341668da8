#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry_store.h"
#include "tests/platform/registry_test_util.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::RegistryRoot;
using platform::RegistryStore;
using platform::RegistryValueType;
using Names = std::vector<std::string>;

constexpr RegistryRoot kLM = RegistryRoot::LocalMachine;
constexpr RegistryRoot kCR = RegistryRoot::ClassesRoot;

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("registry.db");
    std::string error;
    store_ = RegistryStore::Open(path_, &error);
    ASSERT_TRUE(store_) << error;
  }

  kv_test::TempDir dir_{"kv-registry-store"};
  std::string path_;
  std::unique_ptr<RegistryStore> store_;
};

TEST_F(RegistryStoreTest, FreshStoreHasEmptyRoots) {
  EXPECT_TRUE(store_->KeyExists(kLM, ""));
  EXPECT_TRUE(store_->KeyExists(kCR, "\\"));
  EXPECT_EQ(store_->SubKeyNames(kLM, ""), Names{});
  EXPECT_EQ(store_->ValueNames(kCR, ""), Names{});
  EXPECT_FALSE(store_->KeyExists(kLM, "Software"));
}

TEST_F(RegistryStoreTest, CreateKeyMakesParentsAndIgnoresExtraSeparators) {
  EXPECT_TRUE(store_->CreateKey(kLM, "\\Software\\\\Orvalen\\Kestrevane\\"));
  EXPECT_TRUE(store_->KeyExists(kLM, "Software"));
  EXPECT_TRUE(store_->KeyExists(kLM, "Software\\Orvalen"));
  EXPECT_TRUE(store_->KeyExists(kLM, "Software\\Orvalen\\Kestrevane"));
  EXPECT_EQ(store_->SubKeyNames(kLM, "Software"), Names{"Orvalen"});
  // Creating an existing key succeeds and adds nothing.
  EXPECT_TRUE(store_->CreateKey(kLM, "Software\\Orvalen"));
  EXPECT_EQ(store_->SubKeyNames(kLM, "Software"), Names{"Orvalen"});
  EXPECT_TRUE(store_->CreateKey(kLM, ""));
}

TEST_F(RegistryStoreTest, RootsAreSeparate) {
  ASSERT_TRUE(store_->CreateKey(kCR, "CLSID\\{X}"));
  ASSERT_TRUE(store_->WriteString(kCR, "CLSID\\{X}", "", "AviSynth"));
  EXPECT_FALSE(store_->KeyExists(kLM, "CLSID"));
  EXPECT_FALSE(store_->ReadString(kLM, "CLSID\\{X}", ""));
  EXPECT_EQ(store_->ReadString(kCR, "CLSID\\{X}", ""), "AviSynth");
  // The same path may exist under both roots independently.
  ASSERT_TRUE(store_->CreateKey(kLM, "CLSID"));
  EXPECT_TRUE(store_->DeleteKey(kLM, "CLSID"));
  EXPECT_TRUE(store_->KeyExists(kCR, "CLSID\\{X}"));
}

TEST_F(RegistryStoreTest, ValueTypesAreKept) {
  ASSERT_TRUE(store_->CreateKey(kLM, "Jobs"));
  ASSERT_TRUE(store_->WriteDWord(kLM, "Jobs", "Count", 3));
  ASSERT_TRUE(store_->WriteString(kLM, "Jobs", "Name", "Holiday"));
  ASSERT_TRUE(store_->WriteString(kLM, "Jobs", "Number", "3"));
  ASSERT_TRUE(store_->WriteDWord(kLM, "Jobs", "Max", 0xFFFFFFFFu));
  ASSERT_TRUE(store_->WriteString(kLM, "Jobs", "", ""));

  EXPECT_EQ(store_->ValueType(kLM, "Jobs", "Count"), RegistryValueType::DWord);
  EXPECT_EQ(store_->ValueType(kLM, "Jobs", "Name"), RegistryValueType::String);
  EXPECT_EQ(store_->ValueType(kLM, "Jobs", "Number"), RegistryValueType::String);
  EXPECT_EQ(store_->ValueType(kLM, "Jobs", ""), RegistryValueType::String);
  EXPECT_EQ(store_->ValueType(kLM, "Jobs", "Missing"), RegistryValueType::None);
  EXPECT_EQ(store_->ValueType(kLM, "NoKey", "Count"), RegistryValueType::None);

  EXPECT_EQ(store_->ReadDWord(kLM, "Jobs", "Count"), 3u);
  EXPECT_EQ(store_->ReadDWord(kLM, "Jobs", "Max"), 0xFFFFFFFFu);
  EXPECT_EQ(store_->ReadString(kLM, "Jobs", "Name"), "Holiday");
  EXPECT_EQ(store_->ReadString(kLM, "Jobs", ""), "");

  // Reading as the other type fails, also for a string that looks like a number.
  EXPECT_FALSE(store_->ReadString(kLM, "Jobs", "Count"));
  EXPECT_FALSE(store_->ReadDWord(kLM, "Jobs", "Number"));
  EXPECT_FALSE(store_->ReadDWord(kLM, "Jobs", "Missing"));
  EXPECT_FALSE(store_->ReadString(kLM, "NoKey", "Name"));
}

TEST_F(RegistryStoreTest, CountStoredAsStringIsRewrittenAsInteger) {
  ASSERT_TRUE(store_->CreateKey(kLM, "Jobs"));
  ASSERT_TRUE(store_->WriteString(kLM, "Jobs", "Count", "2"));
  ASSERT_TRUE(store_->WriteDWord(kLM, "Jobs", "Other", 1));
  EXPECT_EQ(store_->ValueType(kLM, "Jobs", "Count"), RegistryValueType::String);
  ASSERT_TRUE(store_->WriteDWord(kLM, "Jobs", "Count", 2));
  EXPECT_EQ(store_->ValueType(kLM, "Jobs", "Count"), RegistryValueType::DWord);
  EXPECT_EQ(store_->ReadDWord(kLM, "Jobs", "Count"), 2u);
  EXPECT_FALSE(store_->ReadString(kLM, "Jobs", "Count"));
  // Replacing keeps the value's place.
  EXPECT_EQ(store_->ValueNames(kLM, "Jobs"), (Names{"Count", "Other"}));
  ASSERT_TRUE(store_->WriteString(kLM, "Jobs", "Count", "back"));
  EXPECT_EQ(store_->ReadString(kLM, "Jobs", "Count"), "back");
  EXPECT_FALSE(store_->ReadDWord(kLM, "Jobs", "Count"));
}

TEST_F(RegistryStoreTest, StringsKeepEveryByte) {
  ASSERT_TRUE(store_->CreateKey(kLM, "K"));
  std::string data("a\0b\\c\r\n\xC3\xA9 \xFF", 11);
  std::string big(100000, 'x');
  ASSERT_TRUE(store_->WriteString(kLM, "K", "Data", data));
  ASSERT_TRUE(store_->WriteString(kLM, "K", "Big", big));
  EXPECT_EQ(store_->ReadString(kLM, "K", "Data"), data);
  EXPECT_EQ(store_->ReadString(kLM, "K", "Big"), big);
}

TEST_F(RegistryStoreTest, WritingNeedsAnExistingKey) {
  EXPECT_FALSE(store_->WriteString(kLM, "Missing", "A", "x"));
  EXPECT_FALSE(store_->WriteDWord(kLM, "Missing", "A", 1));
  EXPECT_FALSE(store_->KeyExists(kLM, "Missing"));
}

TEST_F(RegistryStoreTest, NamesAreCaseInsensitiveAndKeepTheirCase) {
  ASSERT_TRUE(store_->CreateKey(kLM, "Software\\AviSynth"));
  EXPECT_TRUE(store_->KeyExists(kLM, "SOFTWARE\\avisynth"));
  EXPECT_TRUE(store_->CreateKey(kLM, "software\\AVISYNTH\\Sub"));
  EXPECT_EQ(store_->SubKeyNames(kLM, ""), Names{"Software"});
  EXPECT_EQ(store_->SubKeyNames(kLM, "software"), Names{"AviSynth"});

  ASSERT_TRUE(store_->WriteString(kLM, "Software\\AviSynth", "PluginDir2_5", "/opt"));
  EXPECT_EQ(store_->ReadString(kLM, "software\\avisynth", "plugindir2_5"), "/opt");
  ASSERT_TRUE(store_->WriteString(kLM, "Software\\AviSynth", "PLUGINDIR2_5", "/usr"));
  EXPECT_EQ(store_->ValueNames(kLM, "Software\\AviSynth"), Names{"PluginDir2_5"});
  EXPECT_EQ(store_->ReadString(kLM, "Software\\AviSynth", "PluginDir2_5"), "/usr");
  EXPECT_TRUE(store_->DeleteValue(kLM, "SOFTWARE\\AVISYNTH", "plugindir2_5"));
  EXPECT_EQ(store_->ValueNames(kLM, "Software\\AviSynth"), Names{});
}

TEST_F(RegistryStoreTest, EnumerationFollowsCreationOrder) {
  ASSERT_TRUE(store_->CreateKey(kLM, "Jobs"));
  for (const char* name : {"2", "10", "0", "b", "A", "1"}) {
    ASSERT_TRUE(store_->CreateKey(kLM, std::string("Jobs\\") + name));
  }
  EXPECT_EQ(store_->SubKeyNames(kLM, "Jobs"), (Names{"2", "10", "0", "b", "A", "1"}));
  ASSERT_TRUE(store_->DeleteKey(kLM, "Jobs\\0"));
  ASSERT_TRUE(store_->CreateKey(kLM, "Jobs\\0"));
  EXPECT_EQ(store_->SubKeyNames(kLM, "Jobs"), (Names{"2", "10", "b", "A", "1", "0"}));

  for (const char* name : {"Path", "Name", "", "Done", "Date"}) {
    ASSERT_TRUE(store_->WriteString(kLM, "Jobs\\2", name, "v"));
  }
  EXPECT_EQ(store_->ValueNames(kLM, "Jobs\\2"), (Names{"Path", "Name", "", "Done", "Date"}));
  ASSERT_TRUE(store_->DeleteValue(kLM, "Jobs\\2", "Path"));
  ASSERT_TRUE(store_->WriteDWord(kLM, "Jobs\\2", "Path", 1));
  EXPECT_EQ(store_->ValueNames(kLM, "Jobs\\2"), (Names{"Name", "", "Done", "Date", "Path"}));

  EXPECT_FALSE(store_->SubKeyNames(kLM, "Nope"));
  EXPECT_FALSE(store_->ValueNames(kLM, "Nope"));
}

TEST_F(RegistryStoreTest, DeleteValue) {
  ASSERT_TRUE(store_->CreateKey(kLM, "K"));
  ASSERT_TRUE(store_->WriteDWord(kLM, "K", "A", 1));
  EXPECT_TRUE(store_->DeleteValue(kLM, "K", "A"));
  EXPECT_FALSE(store_->DeleteValue(kLM, "K", "A"));
  EXPECT_FALSE(store_->DeleteValue(kLM, "Missing", "A"));
  EXPECT_EQ(store_->ValueType(kLM, "K", "A"), RegistryValueType::None);
}

TEST_F(RegistryStoreTest, DeleteKeyRemovesEverythingBelow) {
  ASSERT_TRUE(store_->CreateKey(kLM, "Jobs\\0\\Sub\\Deeper"));
  ASSERT_TRUE(store_->CreateKey(kLM, "Jobs\\1"));
  ASSERT_TRUE(store_->CreateKey(kLM, "Jobsx"));
  ASSERT_TRUE(store_->WriteString(kLM, "Jobs\\0", "Name", "a"));
  ASSERT_TRUE(store_->WriteString(kLM, "Jobs\\0\\Sub\\Deeper", "X", "b"));
  ASSERT_TRUE(store_->WriteDWord(kLM, "Jobs", "Count", 2));

  EXPECT_TRUE(store_->DeleteKey(kLM, "jobs"));
  EXPECT_FALSE(store_->KeyExists(kLM, "Jobs"));
  EXPECT_FALSE(store_->KeyExists(kLM, "Jobs\\0\\Sub\\Deeper"));
  EXPECT_TRUE(store_->KeyExists(kLM, "Jobsx"));
  EXPECT_FALSE(store_->DeleteKey(kLM, "Jobs"));
  EXPECT_FALSE(store_->DeleteKey(kLM, "Never\\There"));

  // Re-creating gives an empty key: nothing survived below it.
  ASSERT_TRUE(store_->CreateKey(kLM, "Jobs\\0\\Sub\\Deeper"));
  EXPECT_EQ(store_->ValueNames(kLM, "Jobs"), Names{});
  EXPECT_EQ(store_->ValueNames(kLM, "Jobs\\0"), Names{});
  EXPECT_EQ(store_->ValueNames(kLM, "Jobs\\0\\Sub\\Deeper"), Names{});
}

TEST_F(RegistryStoreTest, RootIsNeverDeleted) {
  ASSERT_TRUE(store_->CreateKey(kLM, "A"));
  EXPECT_FALSE(store_->DeleteKey(kLM, ""));
  EXPECT_FALSE(store_->DeleteKey(kLM, "\\"));
  EXPECT_FALSE(store_->DeleteKey(kCR, "\\\\"));
  EXPECT_TRUE(store_->KeyExists(kLM, "A"));
}

TEST_F(RegistryStoreTest, DeepTreesDeleteAndMove) {
  std::string path = "Deep";
  for (int i = 0; i < 150; ++i) path += "\\L" + std::to_string(i);
  ASSERT_TRUE(store_->CreateKey(kLM, path));
  ASSERT_TRUE(store_->WriteDWord(kLM, path, "Leaf", 7));
  ASSERT_TRUE(store_->MoveKey(kLM, "Deep", "Moved"));
  std::string moved = "Moved" + path.substr(4);
  EXPECT_EQ(store_->ReadDWord(kLM, moved, "Leaf"), 7u);
  EXPECT_FALSE(store_->KeyExists(kLM, "Deep"));
  EXPECT_TRUE(store_->DeleteKey(kLM, "Moved"));
  EXPECT_EQ(store_->SubKeyNames(kLM, ""), Names{});
}

TEST_F(RegistryStoreTest, MoveKeyTakesValuesAndSubkeys) {
  const std::string clsid = "CLSID\\{E6D6B700-124D-11D4-86F3-DB80AFD98778}";
  ASSERT_TRUE(store_->CreateKey(kCR, clsid + "\\InProcServer32"));
  ASSERT_TRUE(store_->CreateKey(kCR, clsid + "\\Other\\Deeper"));
  ASSERT_TRUE(store_->WriteString(kCR, clsid, "", "AviSynth"));
  ASSERT_TRUE(store_->WriteDWord(kCR, clsid, "Flags", 5));
  ASSERT_TRUE(store_->WriteString(kCR, clsid + "\\InProcServer32", "", "AviSynth.dll"));
  ASSERT_TRUE(store_->WriteString(kCR, clsid + "\\InProcServer32", "ThreadingModel", "Apartment"));
  ASSERT_TRUE(store_->WriteDWord(kCR, clsid + "\\Other\\Deeper", "N", 9));
  std::string before = kv_test::DumpKey(*store_, kCR, clsid);

  ASSERT_TRUE(store_->MoveKey(kCR, clsid, clsid + "-bak"));
  EXPECT_FALSE(store_->KeyExists(kCR, clsid));
  std::string after = kv_test::DumpKey(*store_, kCR, clsid + "-bak");
  // Same content apart from the key name in the headers.
  std::string expected = before;
  for (size_t at = 0; (at = expected.find(clsid, at)) != std::string::npos;) {
    expected.insert(at + clsid.size(), "-bak");
    at += clsid.size() + 4;
  }
  EXPECT_EQ(after, expected);
  EXPECT_EQ(store_->ValueType(kCR, clsid + "-bak", "Flags"), RegistryValueType::DWord);

  // And back, the way the frameserver restore does it.
  ASSERT_TRUE(store_->MoveKey(kCR, clsid + "-bak", clsid));
  EXPECT_EQ(kv_test::DumpKey(*store_, kCR, clsid), before);
  EXPECT_EQ(store_->SubKeyNames(kCR, "CLSID"), Names{clsid.substr(6)});
}

TEST_F(RegistryStoreTest, MoveKeyCreatesParentsAndRenames) {
  ASSERT_TRUE(store_->CreateKey(kLM, "Jobs\\3"));
  ASSERT_TRUE(store_->WriteString(kLM, "Jobs\\3", "Name", "x"));
  ASSERT_TRUE(store_->MoveKey(kLM, "Jobs\\3", "Jobs\\1"));
  EXPECT_EQ(store_->SubKeyNames(kLM, "Jobs"), Names{"1"});
  EXPECT_EQ(store_->ReadString(kLM, "Jobs\\1", "Name"), "x");
  ASSERT_TRUE(store_->MoveKey(kLM, "Jobs\\1", "Elsewhere\\New\\Place"));
  EXPECT_EQ(store_->ReadString(kLM, "ELSEWHERE\\new\\place", "Name"), "x");
  EXPECT_EQ(store_->SubKeyNames(kLM, "Elsewhere\\New"), Names{"Place"});
  EXPECT_EQ(store_->SubKeyNames(kLM, "Jobs"), Names{});
}

TEST_F(RegistryStoreTest, MoveKeyFailures) {
  ASSERT_TRUE(store_->CreateKey(kLM, "A\\B"));
  ASSERT_TRUE(store_->CreateKey(kLM, "C"));
  ASSERT_TRUE(store_->WriteDWord(kLM, "A\\B", "V", 1));
  std::string before = kv_test::DumpKey(*store_, kLM, "");

  EXPECT_FALSE(store_->MoveKey(kLM, "Missing", "D"));  // from missing
  EXPECT_FALSE(store_->MoveKey(kLM, "A", "C"));        // to exists
  EXPECT_FALSE(store_->MoveKey(kLM, "A", "a"));        // to is from
  EXPECT_FALSE(store_->MoveKey(kLM, "A", "A\\B\\X"));  // to inside from
  EXPECT_FALSE(store_->MoveKey(kLM, "a", "A\\New"));   // inside, other case
  EXPECT_FALSE(store_->MoveKey(kLM, "", "Root"));      // the root
  EXPECT_FALSE(store_->MoveKey(kLM, "A", ""));
  EXPECT_FALSE(store_->MoveKey(kCR, "A", "D"));  // other root
  EXPECT_EQ(kv_test::DumpKey(*store_, kLM, ""), before);
  EXPECT_FALSE(store_->KeyExists(kLM, "D"));
  // A sibling that only shares a prefix is not inside.
  EXPECT_TRUE(store_->MoveKey(kLM, "A", "AB"));
}

TEST_F(RegistryStoreTest, AtomicallyLandsAllOrNothing) {
  ASSERT_TRUE(store_->CreateKey(kLM, "Software\\List"));
  ASSERT_TRUE(store_->WriteDWord(kLM, "Software\\List", "Count", 1));

  // A body that gives up undoes everything it did, deletions included.
  EXPECT_FALSE(store_->Atomically([&] {
    EXPECT_TRUE(store_->DeleteKey(kLM, "Software\\List"));
    EXPECT_TRUE(store_->CreateKey(kLM, "Software\\Other\\Deep"));
    EXPECT_FALSE(store_->KeyExists(kLM, "Software\\List"));  // seen inside the body
    return false;
  }));
  EXPECT_EQ(store_->ReadDWord(kLM, "Software\\List", "Count"), 1u);
  EXPECT_FALSE(store_->KeyExists(kLM, "Software\\Other"));

  // A failing operation inside a body undoes only itself (here: nothing was
  // written); the body goes on and lands the rest.
  EXPECT_TRUE(store_->Atomically([&] {
    EXPECT_FALSE(store_->WriteString(kLM, "Software\\Missing", "Name", "x"));
    EXPECT_FALSE(store_->MoveKey(kLM, "Software\\List", "Software\\List\\Inside"));
    return store_->WriteDWord(kLM, "Software\\List", "Count", 2);
  }));
  EXPECT_EQ(store_->ReadDWord(kLM, "Software\\List", "Count"), 2u);
  EXPECT_FALSE(store_->KeyExists(kLM, "Software\\Missing"));
}

TEST_F(RegistryStoreTest, OtherConnectionsSeeAnAtomicBodyOnlyWhenItEnds) {
  auto other = RegistryStore::Open(path_);
  ASSERT_TRUE(other);
  ASSERT_TRUE(store_->Atomically([&] {
    EXPECT_TRUE(store_->CreateKey(kLM, "Software\\Half"));
    EXPECT_FALSE(other->KeyExists(kLM, "Software\\Half"));
    return true;
  }));
  EXPECT_TRUE(other->KeyExists(kLM, "Software\\Half"));
}

TEST_F(RegistryStoreTest, DataSurvivesReopening) {
  ASSERT_TRUE(store_->CreateKey(kLM, "Software\\AviSynth"));
  ASSERT_TRUE(store_->WriteString(kLM, "Software\\AviSynth", "tempinst", "Temporary Installation"));
  ASSERT_TRUE(store_->WriteDWord(kLM, "Software\\AviSynth", "n", 42));
  std::string before = kv_test::DumpKey(*store_, kLM, "");
  store_.reset();
  std::string error;
  store_ = RegistryStore::Open(path_, &error);
  ASSERT_TRUE(store_) << error;
  EXPECT_EQ(kv_test::DumpKey(*store_, kLM, ""), before);
}

TEST_F(RegistryStoreTest, TwoStoresOnOneFileSeeEachOther) {
  std::string error;
  auto other = RegistryStore::Open(path_, &error);
  ASSERT_TRUE(other) << error;
  ASSERT_TRUE(store_->CreateKey(kLM, "One"));
  EXPECT_TRUE(other->KeyExists(kLM, "One"));
  ASSERT_TRUE(other->WriteDWord(kLM, "One", "V", 1));
  EXPECT_EQ(store_->ReadDWord(kLM, "One", "V"), 1u);
  ASSERT_TRUE(other->DeleteKey(kLM, "One"));
  EXPECT_FALSE(store_->KeyExists(kLM, "One"));
}

TEST_F(RegistryStoreTest, TwoStoresWritingAtOnceLoseNothing) {
  std::string error;
  auto other = RegistryStore::Open(path_, &error);
  ASSERT_TRUE(other) << error;
  constexpr int kCount = 150;
  auto writer = [](RegistryStore* store, std::string key, int* failures) {
    for (int i = 0; i < kCount; ++i) {
      std::string sub = key + "\\" + std::to_string(i);
      if (!store->CreateKey(kLM, sub)) ++*failures;
      if (!store->WriteDWord(kLM, sub, "Index", static_cast<uint32_t>(i))) ++*failures;
    }
  };
  int failures_a = 0, failures_b = 0;
  std::thread a(writer, store_.get(), "A", &failures_a);
  std::thread b(writer, other.get(), "B", &failures_b);
  a.join();
  b.join();
  EXPECT_EQ(failures_a, 0);
  EXPECT_EQ(failures_b, 0);
  for (const char* key : {"A", "B"}) {
    auto names = store_->SubKeyNames(kLM, key);
    ASSERT_TRUE(names);
    ASSERT_EQ(names->size(), static_cast<size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
      EXPECT_EQ((*names)[static_cast<size_t>(i)], std::to_string(i));
      EXPECT_EQ(other->ReadDWord(kLM, std::string(key) + "\\" + std::to_string(i), "Index"),
                static_cast<uint32_t>(i));
    }
  }
}

TEST_F(RegistryStoreTest, OneStoreUsedFromTwoThreads) {
  auto writer = [this](std::string key, int* failures) {
    for (int i = 0; i < 100; ++i) {
      std::string sub = key + "\\" + std::to_string(i);
      if (!store_->CreateKey(kLM, sub) || !store_->WriteString(kLM, sub, "S", sub)) ++*failures;
    }
  };
  int failures_a = 0, failures_b = 0;
  std::thread a(writer, "A", &failures_a);
  std::thread b(writer, "B", &failures_b);
  a.join();
  b.join();
  EXPECT_EQ(failures_a + failures_b, 0);
  EXPECT_EQ(store_->SubKeyNames(kLM, "A")->size(), 100u);
  EXPECT_EQ(store_->SubKeyNames(kLM, "B")->size(), 100u);
}

// ---- Opening bad files ----

class RegistryOpenTest : public ::testing::Test {
 protected:
  kv_test::TempDir dir_{"kv-registry-open"};
};

TEST_F(RegistryOpenTest, CreatesMissingFolders) {
  std::string path = dir_.File("a/b/c/registry.db");
  std::string error;
  auto store = RegistryStore::Open(path, &error);
  ASSERT_TRUE(store) << error;
  EXPECT_TRUE(store->CreateKey(kLM, "X"));
  struct stat st;
  EXPECT_EQ(stat(path.c_str(), &st), 0);
}

TEST_F(RegistryOpenTest, RandomBytesAreNotAStore) {
  std::string path = dir_.File("random.db");
  std::mt19937 random(12345);
  std::string bytes(64 * 1024, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  kv_test::WriteFile(path, bytes);
  std::string error;
  EXPECT_FALSE(RegistryStore::Open(path, &error));
  EXPECT_NE(error.find("not a registry store"), std::string::npos) << error;
  EXPECT_EQ(kv_test::ReadFile(path), bytes);  // left as it was
}

TEST_F(RegistryOpenTest, TextFileIsNotAStore) {
  std::string path = dir_.File("text.db");
  kv_test::WriteFile(path, "[HKEY_LOCAL_MACHINE\\Software]\n\"a\"=\"b\"\n");
  std::string error;
  EXPECT_FALSE(RegistryStore::Open(path, &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(RegistryOpenTest, DirectoryIsUnreadable) {
  std::string path = dir_.File("folder.db");
  kv_test::MakeFolders(path);
  std::string error;
  EXPECT_FALSE(RegistryStore::Open(path, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(RegistryStore::Open(path));  // no error text asked for
}

TEST_F(RegistryOpenTest, FolderThatCannotBeCreated) {
  kv_test::WriteFile(dir_.File("plain"), "x");
  std::string error;
  EXPECT_FALSE(RegistryStore::Open(dir_.File("plain/sub/registry.db"), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(RegistryStore::Open("", &error));
}

TEST_F(RegistryOpenTest, OtherSqliteDatabaseIsNotAStore) {
  std::string path = dir_.File("other.db");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(db);
  std::string error;
  EXPECT_FALSE(RegistryStore::Open(path, &error));
  EXPECT_NE(error.find("not a registry store"), std::string::npos) << error;
}

TEST_F(RegistryOpenTest, DamagedStoreFailsClearly) {
  std::string path = dir_.File("registry.db");
  {
    auto store = RegistryStore::Open(path);
    ASSERT_TRUE(store);
    for (int i = 0; i < 300; ++i) {
      std::string key = "Software\\Key" + std::to_string(i);
      ASSERT_TRUE(store->CreateKey(kLM, key));
      ASSERT_TRUE(store->WriteString(kLM, key, "Value", std::string(200, 'v')));
    }
  }  // the last connection checkpoints the journal into the file
  std::string bytes = kv_test::ReadFile(path);
  ASSERT_GT(bytes.size(), 8u * 4096);
  std::mt19937 random(777);
  for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(random());
  kv_test::WriteFile(path, bytes);
  std::string error;
  EXPECT_FALSE(RegistryStore::Open(path, &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(RegistryOpenTest, DamagedHeaderFailsClearly) {
  std::string path = dir_.File("registry.db");
  ASSERT_TRUE(RegistryStore::Open(path));
  std::string bytes = kv_test::ReadFile(path);
  ASSERT_GT(bytes.size(), 100u);
  bytes.replace(0, 16, "Not SQLite at al");
  kv_test::WriteFile(path, bytes);
  std::string error;
  EXPECT_FALSE(RegistryStore::Open(path, &error));
  EXPECT_NE(error.find("not a registry store"), std::string::npos) << error;
}

// ---- Default path ----

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(RegistryDefaultPath, Overrides) {
  {
    ScopedEnv reg("KESTREVANE_REGISTRY", "/some/where/r.db");
    EXPECT_EQ(RegistryStore::DefaultPath(), "/some/where/r.db");
  }
  ScopedEnv reg("KESTREVANE_REGISTRY", nullptr);
  {
    ScopedEnv xdg("XDG_DATA_HOME", "/xdg/data");
    EXPECT_EQ(RegistryStore::DefaultPath(), "/xdg/data/kestrevane/registry.db");
  }
  ScopedEnv xdg("XDG_DATA_HOME", nullptr);
  ScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(RegistryStore::DefaultPath(), "/home/someone/.local/share/kestrevane/registry.db");
}

TEST(RegistryDefaultPath, TestsGetAPrivateStore) {
  // test_main points the store at a private temporary file.
  std::string path = RegistryStore::DefaultPath();
  EXPECT_EQ(path, std::getenv("KESTREVANE_REGISTRY"));
  std::string error;
  EXPECT_TRUE(RegistryStore::Open(path, &error)) << error;
}

}  // namespace
