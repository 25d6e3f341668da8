// Two processes on one store, and a writer killed in the middle of writing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry_store.h"
#include "tests/platform/registry_test_util.h"
#include "tests/support/temp_dir.h"

#ifndef KV_REGISTRY_WRITER
#error "KV_REGISTRY_WRITER must name the registry_writer helper"
#endif

namespace {

using platform::RegistryRoot;
using platform::RegistryStore;
using platform::RegistryValueType;

constexpr RegistryRoot kLM = RegistryRoot::LocalMachine;
constexpr RegistryRoot kCR = RegistryRoot::ClassesRoot;

// Must match registry_writer_main.cpp.
std::string Payload(long i) {
  std::string payload;
  for (int n = 0; payload.size() < 12000; ++n) payload += std::to_string(i * 7919 + n) + ";";
  return payload;
}

// Fills the store with the data that must survive everything that follows.
void WriteExistingData(RegistryStore& store) {
  for (int i = 0; i < 40; ++i) {
    std::string key = "Software\\Orvalen\\Kestrevane\\Jobs\\" + std::to_string(i);
    ASSERT_TRUE(store.CreateKey(kLM, key + "\\Sub"));
    ASSERT_TRUE(store.WriteString(kLM, key, "Name", "Job " + std::to_string(i)));
    ASSERT_TRUE(store.WriteString(kLM, key, "Path", "/jobs/" + std::to_string(i)));
    ASSERT_TRUE(store.WriteDWord(kLM, key, "Done", static_cast<uint32_t>(i % 2)));
    ASSERT_TRUE(store.WriteString(kLM, key + "\\Sub", "Blob", std::string(3000, 'a' + i % 26)));
  }
  ASSERT_TRUE(store.WriteDWord(kLM, "Software\\Orvalen\\Kestrevane\\Jobs", "Count", 40));
  ASSERT_TRUE(
      store.CreateKey(kCR, "CLSID\\{E6D6B700-124D-11D4-86F3-DB80AFD98778}\\InProcServer32"));
  ASSERT_TRUE(
      store.WriteString(kCR, "CLSID\\{E6D6B700-124D-11D4-86F3-DB80AFD98778}", "", "AviSynth"));
}

std::string DumpAll(RegistryStore& store) {
  return kv_test::DumpKey(store, kLM, "Software") + kv_test::DumpKey(store, kCR, "");
}

// Checks the file with SQLite directly: intact b-trees, no dangling parent or
// value, and every key row reachable from a root.
void ExpectConsistentFile(const std::string& path) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  auto text = [db](const char* sql) {
    sqlite3_stmt* st = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) return std::string("<error>");
    while (sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* t = sqlite3_column_text(st, 0);
      out += t ? reinterpret_cast<const char*>(t) : "NULL";
      out += "|";
    }
    sqlite3_finalize(st);
    return out;
  };
  EXPECT_EQ(text("PRAGMA integrity_check"), "ok|");
  EXPECT_EQ(text("PRAGMA foreign_key_check"), "");
  EXPECT_EQ(text("WITH RECURSIVE r(id) AS (SELECT id FROM keys WHERE parent IS NULL "
                 "UNION ALL SELECT k.id FROM keys k JOIN r ON k.parent = r.id) "
                 "SELECT (SELECT count(*) FROM keys) - (SELECT count(*) FROM r)"),
            "0|");
  EXPECT_EQ(text("SELECT count(*) FROM keys WHERE parent IS NULL"), "2|");
  sqlite3_close(db);
}

class RegistryProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("registry.db");
    std::string error;
    store_ = RegistryStore::Open(path_, &error);
    ASSERT_TRUE(store_) << error;
  }

  kv_test::TempDir dir_{"kv-registry-proc"};
  std::string path_;
  std::unique_ptr<RegistryStore> store_;
};

TEST_F(RegistryProcessTest, SecondProcessWritesConcurrentlyWithoutLosingWrites) {
  constexpr int kCount = 200;
  kv_test::ChildProcess child(
      {KV_REGISTRY_WRITER, path_, "write", "Child", std::to_string(kCount)});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitFor("R\n"));
  int failures = 0;
  for (int i = 0; i < kCount; ++i) {
    std::string key = "Parent\\" + std::to_string(i);
    if (!store_->CreateKey(kLM, key)) ++failures;
    if (!store_->WriteDWord(kLM, key, "Index", static_cast<uint32_t>(i))) ++failures;
    store_->SubKeyNames(kLM, "Child");  // reads between the other's writes
  }
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(child.WaitFor("D\n"));
  int status = child.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  for (const char* key : {"Parent", "Child"}) {
    auto names = store_->SubKeyNames(kLM, key);
    ASSERT_TRUE(names) << key;
    ASSERT_EQ(names->size(), static_cast<size_t>(kCount)) << key;
    for (int i = 0; i < kCount; ++i) {
      std::string sub = std::string(key) + "\\" + std::to_string(i);
      EXPECT_EQ(store_->ReadDWord(kLM, sub, "Index"), static_cast<uint32_t>(i)) << sub;
    }
  }
  EXPECT_EQ(store_->ReadString(kLM, "Child\\7", "Text"), "entry 7");
  ExpectConsistentFile(path_);
}

TEST_F(RegistryProcessTest, WriterKilledWhileWritingLeavesAConsistentStore) {
  WriteExistingData(*store_);
  const std::string before = DumpAll(*store_);
  const std::vector<int> delays_ms = {0, 1, 2, 3, 5, 8, 13, 21, 34, 55};

  for (size_t round = 0; round < delays_ms.size(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string key = "Churn\\Round" + std::to_string(round);
    // Half of the rounds keep our connection open while the writer dies.
    if (round % 2 == 1) store_.reset();
    {
      kv_test::ChildProcess writer({KV_REGISTRY_WRITER, path_, "churn", key, "3"});
      ASSERT_TRUE(writer.Started());
      ASSERT_TRUE(writer.WaitFor("R\n")) << "the writer did not start writing";
      std::this_thread::sleep_for(std::chrono::milliseconds(delays_ms[round]));
      writer.Kill(SIGKILL);
      int status = writer.Wait();
      ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended before it was killed";
      EXPECT_EQ(WTERMSIG(status), SIGKILL);
    }

    std::string error;
    if (!store_) {
      store_ = RegistryStore::Open(path_, &error);
      ASSERT_TRUE(store_) << error;
    }
    // Another connection opened after the kill sees the same.
    auto fresh = RegistryStore::Open(path_, &error);
    ASSERT_TRUE(fresh) << error;

    EXPECT_EQ(DumpAll(*store_), before);
    EXPECT_EQ(DumpAll(*fresh), before);

    // Every move is all or nothing: a finished round is complete under Done
    // and gone from Tmp; only the round being built may sit in Tmp, partly.
    auto done = fresh->SubKeyNames(kLM, key + "\\Done");
    ASSERT_TRUE(done);
    EXPECT_GE(done->size(), 3u);
    std::set<std::string> done_set(done->begin(), done->end());
    long highest = -1;
    for (const std::string& name : *done) {
      long i = std::stol(name);
      highest = std::max(highest, i);
      std::string entry = key + "\\Done\\" + name;
      EXPECT_EQ(fresh->ReadString(kLM, entry, "Name"), "round " + name);
      EXPECT_EQ(fresh->ReadDWord(kLM, entry + "\\Sub", "Index"), static_cast<uint32_t>(i));
      EXPECT_EQ(fresh->ReadString(kLM, entry + "\\Sub\\Deep", "Payload"), Payload(i)) << entry;
    }
    auto tmp = fresh->SubKeyNames(kLM, key + "\\Tmp");
    ASSERT_TRUE(tmp);
    EXPECT_LE(tmp->size(), 1u);
    for (const std::string& name : *tmp) {
      EXPECT_EQ(done_set.count(name), 0u) << name << " is both moved and not moved";
      EXPECT_EQ(std::stol(name), highest + 1);
    }
    // The deletions of older rounds happened whole too.
    for (long i = 0; i <= highest; ++i) {
      // Round i + 5 deletes Done\i right after its own move.
      bool deleted = i % 10 == 4 && i + 5 < highest;
      bool deleted_maybe = i % 10 == 4 && i + 5 == highest;
      if (!deleted_maybe) {
        EXPECT_EQ(done_set.count(std::to_string(i)), deleted ? 0u : 1u) << i;
      }
    }
    fresh.reset();
    ExpectConsistentFile(path_);
    // The store takes writes again.
    ASSERT_TRUE(store_->CreateKey(kLM, key + "\\After"));
  }
}

}  // namespace
