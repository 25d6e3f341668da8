// The registry store on POSIX: one SQLite file per user.
//
// Schema (user_version 1, application_id kApplicationId):
//   keys(id, parent, name)  one row per key; the two roots have the fixed ids
//                           1 (HKEY_LOCAL_MACHINE) and 2 (HKEY_CLASSES_ROOT)
//                           and no parent. Subkeys are removed with their
//                           parent through ON DELETE CASCADE.
//   vals(key, name, type, sdata, ddata, seq)
//                           one row per value; type 1 = REG_SZ (sdata),
//                           2 = REG_DWORD (ddata); seq keeps the creation
//                           order of the values of one key.
// Key ids only grow (a new row gets max(id) + 1), so ordering subkeys by id
// gives their creation order.
//
// Names are compared with COLLATE NOCASE, which folds ASCII letters only:
// "Jobs" and "JOBS" are the same key, but non-ASCII letters compare by their
// exact bytes. That is acceptable here: every name the program uses is ASCII.
//
// Every public operation runs in one transaction (BEGIN IMMEDIATE when it
// writes) on a WAL journal with synchronous=FULL, so a process killed in the
// middle of an operation leaves the store as it was before that operation,
// and several processes can use the file at once (busy_timeout makes a
// writer wait for another one instead of failing).
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/registry_store.h"
#include "platform/registry_store_sqlite.h"

namespace platform {
namespace {

constexpr int kApplicationId = 0x4B565247;  // "KVRG"
constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 15000;
constexpr int kTypeString = 1;
constexpr int kTypeDWord = 2;

using KeyPath = std::vector<std::string>;

// "\a\\b\" -> {"a", "b"}: leading, trailing and doubled separators are ignored.
KeyPath SplitPath(const std::string& key) {
  KeyPath parts;
  std::string part;
  for (char c : key) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

// The same folding as COLLATE NOCASE: ASCII letters only.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

int64_t RootId(RegistryRoot root) {
  return root == RegistryRoot::LocalMachine ? 1 : 2;
}

// mkdir -p; true when the folder exists afterwards.
bool MakeFolders(const std::string& path) {
  if (path.empty()) return true;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) return false;
  if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) {
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  return false;
}

// The prepared statements of one connection, each prepared at its first use
// and kept until the connection closes: preparing a statement costs more
// than running most of these, and a start of the program runs them by the
// hundred. Keyed by the address of the SQL text, which is always a literal.
class StatementCache {
 public:
  // With `keep` false every statement is prepared for its one use.
  explicit StatementCache(sqlite3* db, bool keep = true) : db_(db), keep_(keep) {}
  ~StatementCache() { FinalizeAll(); }
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  sqlite3* Db() const { return db_; }

  // The statement for `sql`, reset and without bindings; null when it cannot
  // be prepared. One still in use further up the stack (a recursive copy)
  // gives a statement of its own for this use. Every statement taken goes
  // back through Return.
  sqlite3_stmt* Take(const char* sql) {
    if (!keep_) return Prepare(sql);
    Entry& entry = entries_[sql];
    if (entry.in_use) return Prepare(sql);
    if (!entry.stmt) entry.stmt = Prepare(sql);
    entry.in_use = entry.stmt != nullptr;
    return entry.stmt;
  }
  void Return(const char* sql, sqlite3_stmt* stmt) {
    if (!stmt) return;
    auto found = entries_.find(sql);
    if (found == entries_.end() || found->second.stmt != stmt) {
      sqlite3_finalize(stmt);
      return;
    }
    // A reset statement holds no lock and no read of the file.
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    found->second.in_use = false;
  }
  // Runs a statement that returns no rows (BEGIN, COMMIT, ...).
  bool Run(const char* sql) {
    sqlite3_stmt* stmt = Take(sql);
    int rc = stmt ? sqlite3_step(stmt) : SQLITE_ERROR;
    while (rc == SQLITE_ROW) rc = sqlite3_step(stmt);
    Return(sql, stmt);
    return rc == SQLITE_DONE;
  }
  // Before the connection closes: a statement left would keep it open.
  void FinalizeAll() {
    for (auto& [sql, entry] : entries_) sqlite3_finalize(entry.stmt);
    entries_.clear();
  }

 private:
  struct Entry {
    sqlite3_stmt* stmt = nullptr;
    bool in_use = false;
  };
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
      sqlite3_finalize(stmt);
      return nullptr;
    }
    return stmt;
  }

  sqlite3* db_;
  bool keep_;
  std::unordered_map<const char*, Entry> entries_;
};

// One use of a statement from the cache; any error is remembered and makes
// the enclosing operation fail.
class Statement {
 public:
  Statement(StatementCache& cache, const char* sql)
      : cache_(cache), sql_(sql), stmt_(cache.Take(sql)), failed_(stmt_ == nullptr) {}
  ~Statement() { cache_.Return(sql_, stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value) {
    if (!failed_ && sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) failed_ = true;
    return *this;
  }
  Statement& Bind(int index, const std::string& value) {
    if (!failed_ && sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                                      SQLITE_TRANSIENT) != SQLITE_OK)
      failed_ = true;
    return *this;
  }
  Statement& BindNull(int index) {
    if (!failed_ && sqlite3_bind_null(stmt_, index) != SQLITE_OK) failed_ = true;
    return *this;
  }
  // True while a row is available; false at the end or on an error (see Ok).
  bool Step() {
    if (failed_) return false;
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) failed_ = true;
    return false;
  }
  // Runs a statement that returns no rows.
  bool Run() {
    while (Step()) {
    }
    return !failed_;
  }
  bool Ok() const { return !failed_; }
  int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column) {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    int size = sqlite3_column_bytes(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size))
                : std::string();
  }

 private:
  StatementCache& cache_;
  const char* sql_;
  sqlite3_stmt* stmt_;
  bool failed_;
};

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// One transaction; rolled back unless committed. Inside a transaction that
// is already open (RegistryStore::Atomically) it is a savepoint instead, so a
// failing operation undoes only itself and the outer body decides the rest.
class Transaction {
 public:
  Transaction(StatementCache& statements, bool write)
      : statements_(statements), nested_(!sqlite3_get_autocommit(statements.Db())) {
    if (nested_)
      ok_ = statements_.Run("SAVEPOINT kv_operation");
    else
      ok_ = statements_.Run(write ? "BEGIN IMMEDIATE" : "BEGIN");
  }
  ~Transaction() {
    if (!ok_ || committed_) return;
    if (nested_) {
      statements_.Run("ROLLBACK TO kv_operation");
      statements_.Run("RELEASE kv_operation");
    } else if (!sqlite3_get_autocommit(statements_.Db())) {
      statements_.Run("ROLLBACK");
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  bool Ok() const { return ok_; }
  bool Commit() {
    if (!ok_) return false;
    committed_ = statements_.Run(nested_ ? "RELEASE kv_operation" : "COMMIT");
    return committed_;
  }

 private:
  StatementCache& statements_;
  bool nested_;
  bool ok_ = false;
  bool committed_ = false;
};

// A single text result of a statement (PRAGMAs); nullopt on an error.
std::optional<std::string> QueryText(sqlite3* db, const char* sql, std::string* error) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    if (error) *error = sqlite3_errmsg(db);
    return std::nullopt;
  }
  std::optional<std::string> result;
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(stmt, 0);
    result = text ? reinterpret_cast<const char*>(text) : "";
  } else if (rc == SQLITE_DONE) {
    result = "";
  } else if (error) {
    *error = sqlite3_errmsg(db);
  }
  sqlite3_finalize(stmt);
  return result;
}

class SqliteRegistryStore final : public RegistryStore {
 public:
  SqliteRegistryStore(sqlite3* db, bool keep_statements)
      : db_(db), statements_(db, keep_statements) {}
  ~SqliteRegistryStore() override {
    statements_.FinalizeAll();
    sqlite3_close_v2(db_);
  }

  bool KeyExists(RegistryRoot root, const std::string& key) override {
    return Read<bool>([&]() -> std::optional<bool> {
             int64_t id = FindKey(root, SplitPath(key));
             if (id < 0) return std::nullopt;
             return id > 0;
           })
        .value_or(false);
  }

  bool CreateKey(RegistryRoot root, const std::string& key) override {
    KeyPath path = SplitPath(key);
    return Write([&] { return MakeKey(RootId(root), path, 0, path.size()) > 0; });
  }

  bool DeleteKey(RegistryRoot root, const std::string& key) override {
    KeyPath path = SplitPath(key);
    if (path.empty()) return false;  // never the root itself
    return Write([&] {
      int64_t id = FindKey(root, path);
      if (id <= 0) return false;
      return RemoveKey(id);
    });
  }

  bool MoveKey(RegistryRoot root, const std::string& from, const std::string& to) override {
    KeyPath source = SplitPath(from);
    KeyPath target = SplitPath(to);
    if (source.empty() || target.empty()) return false;
    if (target.size() >= source.size()) {
      bool inside = true;
      for (size_t i = 0; i < source.size() && inside; ++i) inside = SameName(source[i], target[i]);
      if (inside) return false;  // `to` is `from` or lies below it
    }
    return Write([&] {
      int64_t source_id = FindKey(root, source);
      if (source_id <= 0) return false;
      int64_t existing = FindKey(root, target);
      if (existing != 0) return false;  // exists, or error
      int64_t parent = MakeKey(RootId(root), target, 0, target.size() - 1);
      if (parent <= 0) return false;
      if (CopyKey(source_id, parent, target.back()) <= 0) return false;
      return RemoveKey(source_id);
    });
  }

  std::optional<std::vector<std::string>> SubKeyNames(RegistryRoot root,
                                                      const std::string& key) override {
    return Read<std::vector<std::string>>([&]() -> std::optional<std::vector<std::string>> {
      int64_t id = FindKey(root, SplitPath(key));
      if (id <= 0) return std::nullopt;
      Statement st(statements_, "SELECT name FROM keys WHERE parent = ?1 ORDER BY id");
      st.Bind(1, id);
      std::vector<std::string> names;
      while (st.Step()) names.push_back(st.Text(0));
      if (!st.Ok()) return std::nullopt;
      return names;
    });
  }

  std::optional<std::vector<std::string>> ValueNames(RegistryRoot root,
                                                     const std::string& key) override {
    return Read<std::vector<std::string>>([&]() -> std::optional<std::vector<std::string>> {
      int64_t id = FindKey(root, SplitPath(key));
      if (id <= 0) return std::nullopt;
      Statement st(statements_, "SELECT name FROM vals WHERE key = ?1 ORDER BY seq");
      st.Bind(1, id);
      std::vector<std::string> names;
      while (st.Step()) names.push_back(st.Text(0));
      if (!st.Ok()) return std::nullopt;
      return names;
    });
  }

  bool WriteString(RegistryRoot root, const std::string& key, const std::string& name,
                   const std::string& data) override {
    return Write([&] { return PutValue(root, key, name, kTypeString, &data, 0); });
  }

  bool WriteDWord(RegistryRoot root, const std::string& key, const std::string& name,
                  uint32_t data) override {
    return Write([&] { return PutValue(root, key, name, kTypeDWord, nullptr, data); });
  }

  RegistryValueType ValueType(RegistryRoot root, const std::string& key,
                              const std::string& name) override {
    auto type = Read<int>([&]() -> std::optional<int> {
      int64_t id = FindKey(root, SplitPath(key));
      if (id <= 0) return std::nullopt;
      Statement st(statements_, "SELECT type FROM vals WHERE key = ?1 AND name = ?2");
      st.Bind(1, id).Bind(2, name);
      if (!st.Step()) return std::nullopt;
      return static_cast<int>(st.Int(0));
    });
    if (type == kTypeString) return RegistryValueType::String;
    if (type == kTypeDWord) return RegistryValueType::DWord;
    return RegistryValueType::None;
  }

  std::optional<std::string> ReadString(RegistryRoot root, const std::string& key,
                                        const std::string& name) override {
    return Read<std::string>([&]() -> std::optional<std::string> {
      int64_t id = FindKey(root, SplitPath(key));
      if (id <= 0) return std::nullopt;
      Statement st(statements_, "SELECT type, sdata FROM vals WHERE key = ?1 AND name = ?2");
      st.Bind(1, id).Bind(2, name);
      if (!st.Step() || st.Int(0) != kTypeString) return std::nullopt;
      return st.Text(1);
    });
  }

  std::optional<uint32_t> ReadDWord(RegistryRoot root, const std::string& key,
                                    const std::string& name) override {
    return Read<uint32_t>([&]() -> std::optional<uint32_t> {
      int64_t id = FindKey(root, SplitPath(key));
      if (id <= 0) return std::nullopt;
      Statement st(statements_, "SELECT type, ddata FROM vals WHERE key = ?1 AND name = ?2");
      st.Bind(1, id).Bind(2, name);
      if (!st.Step() || st.Int(0) != kTypeDWord) return std::nullopt;
      return static_cast<uint32_t>(st.Int(1));
    });
  }

  bool Atomically(const std::function<bool()>& body) override {
    return Write([&] { return body(); });
  }

  bool DeleteValue(RegistryRoot root, const std::string& key, const std::string& name) override {
    return Write([&] {
      int64_t id = FindKey(root, SplitPath(key));
      if (id <= 0) return false;
      Statement st(statements_, "DELETE FROM vals WHERE key = ?1 AND name = ?2");
      st.Bind(1, id).Bind(2, name);
      return st.Run() && sqlite3_changes(db_) > 0;
    });
  }

 private:
  template <typename Body>
  bool Write(Body&& body) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Transaction transaction(statements_, true);
    if (!transaction.Ok()) return false;
    if (!body()) return false;  // rolled back
    return transaction.Commit();
  }

  template <typename T, typename Body>
  std::optional<T> Read(Body&& body) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Transaction transaction(statements_, false);
    if (!transaction.Ok()) return std::nullopt;
    std::optional<T> result = body();
    if (!transaction.Commit()) return std::nullopt;
    return result;
  }

  // The id of a direct subkey: > 0 found, 0 missing, -1 error.
  int64_t FindChild(int64_t parent, const std::string& name) {
    Statement st(statements_, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
    st.Bind(1, parent).Bind(2, name);
    if (st.Step()) return st.Int(0);
    return st.Ok() ? 0 : -1;
  }

  // The id of a key: > 0 found, 0 missing, -1 error.
  int64_t FindKey(RegistryRoot root, const KeyPath& path) {
    int64_t id = RootId(root);
    for (const std::string& name : path) {
      id = FindChild(id, name);
      if (id <= 0) return id;
    }
    return id;
  }

  int64_t InsertKey(int64_t parent, const std::string& name) {
    Statement st(statements_, "INSERT INTO keys(parent, name) VALUES(?1, ?2)");
    st.Bind(1, parent).Bind(2, name);
    if (!st.Run()) return -1;
    return sqlite3_last_insert_rowid(db_);
  }

  // Walks path[begin, end) below `id`, creating missing keys; the id of the
  // last one, or -1 on an error.
  int64_t MakeKey(int64_t id, const KeyPath& path, size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      int64_t child = FindChild(id, path[i]);
      if (child < 0) return -1;
      if (child == 0) child = InsertKey(id, path[i]);
      if (child <= 0) return -1;
      id = child;
    }
    return id;
  }

  // Copies key `source` with its values and subkeys as a new subkey `name`
  // of `parent`; the new key's id or -1.
  int64_t CopyKey(int64_t source, int64_t parent, const std::string& name) {
    int64_t copy = InsertKey(parent, name);
    if (copy <= 0) return -1;
    Statement values(statements_,
                     "INSERT INTO vals(key, name, type, sdata, ddata, seq) "
                     "SELECT ?1, name, type, sdata, ddata, seq FROM vals WHERE key = ?2");
    values.Bind(1, copy).Bind(2, source);
    if (!values.Run()) return -1;
    std::vector<std::pair<int64_t, std::string>> children;
    {
      Statement st(statements_, "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY id");
      st.Bind(1, source);
      while (st.Step()) children.emplace_back(st.Int(0), st.Text(1));
      if (!st.Ok()) return -1;
    }
    for (const auto& [child, child_name] : children) {
      if (CopyKey(child, copy, child_name) <= 0) return -1;
    }
    return copy;
  }

  // Deletes a key; its values and subkeys go with it (ON DELETE CASCADE).
  bool RemoveKey(int64_t id) {
    if (id <= 2) return false;  // the roots stay
    Statement st(statements_, "DELETE FROM keys WHERE id = ?1");
    st.Bind(1, id);
    return st.Run() && sqlite3_changes(db_) > 0;
  }

  bool PutValue(RegistryRoot root, const std::string& key, const std::string& name, int type,
                const std::string* text, uint32_t number) {
    int64_t id = FindKey(root, SplitPath(key));
    if (id <= 0) return false;
    // Replacing a value keeps its position and the case of its name.
    Statement st(statements_,
                 "INSERT INTO vals(key, name, type, sdata, ddata, seq) VALUES(?1, ?2, ?3, ?4, ?5, "
                 "(SELECT COALESCE(MAX(seq), 0) + 1 FROM vals WHERE key = ?1)) "
                 "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, "
                 "sdata = excluded.sdata, ddata = excluded.ddata");
    st.Bind(1, id).Bind(2, name).Bind(3, static_cast<int64_t>(type));
    if (text) {
      st.Bind(4, *text).BindNull(5);
    } else {
      st.BindNull(4).Bind(5, static_cast<int64_t>(number));
    }
    return st.Run();
  }

  sqlite3* db_;
  StatementCache statements_;
  // One connection serves one operation at a time.
  // Recursive: operations called from an Atomically body take it again.
  std::recursive_mutex mutex_;
};

// A result code that says the file's contents are broken, as opposed to a
// file that cannot be reached (permissions, a full disk, another writer).
bool IsDamage(int code) {
  const int primary = code & 0xff;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// Closes a connection without moving what its journal holds into the file,
// which a last connection's close does: a store that failed to open stays as
// it was found, with its journal beside it.
void CloseUnchanged(sqlite3* db) {
  if (db) sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_close_v2(db);
}

// The tables of the store, as created; SQLite keeps this text in the file.
constexpr const char* kCreateKeys =
    "CREATE TABLE keys(id INTEGER PRIMARY KEY, "
    "parent INTEGER REFERENCES keys(id) ON DELETE CASCADE, "
    "name TEXT NOT NULL COLLATE NOCASE, UNIQUE(parent, name))";
constexpr const char* kCreateVals =
    "CREATE TABLE vals(key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE, "
    "name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, sdata TEXT, ddata INTEGER, "
    "seq INTEGER NOT NULL, PRIMARY KEY(key, name))";

// True when the file holds exactly the tables the store creates and their
// unique indexes. Damage to the stored table text (a column renamed, a
// constraint lost, an object added) passes the integrity check and every
// count, and fails only the first statement that uses what changed.
bool HasOurTables(sqlite3* db) {
  const std::vector<std::string> ours = {
      std::string("index|sqlite_autoindex_keys_1|keys|"),
      std::string("index|sqlite_autoindex_vals_1|vals|"),
      std::string("table|keys|keys|") + kCreateKeys,
      std::string("table|vals|vals|") + kCreateVals,
  };
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT type, name, tbl_name, sql FROM sqlite_master", -1, &stmt,
                         nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return false;
  }
  std::vector<std::string> found;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW && found.size() <= ours.size()) {
    std::string row;
    for (int column = 0; column < 4; ++column) {
      const unsigned char* text = sqlite3_column_text(stmt, column);
      if (column > 0) row += '|';
      if (text) row += reinterpret_cast<const char*>(text);
    }
    found.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  std::sort(found.begin(), found.end());
  return (rc == SQLITE_ROW || rc == SQLITE_DONE) && found == ours;
}

// Creates or checks the schema inside one write transaction. `damaged` is
// set when the file is one of ours (or no database at all) and broken.
bool SetUpSchema(sqlite3* db, std::string* error, bool* damaged) {
  StatementCache statements(db);
  Transaction transaction(statements, true);
  if (!transaction.Ok()) {
    *error = sqlite3_errmsg(db);
    *damaged = IsDamage(sqlite3_errcode(db));
    return false;
  }
  auto application_id = QueryText(db, "PRAGMA application_id", error);
  auto version = QueryText(db, "PRAGMA user_version", error);
  auto tables = QueryText(db, "SELECT count(*) FROM sqlite_master", error);
  if (!application_id || !version || !tables) {
    *damaged = IsDamage(sqlite3_errcode(db));
    return false;
  }
  int app = std::atoi(application_id->c_str());
  int ver = std::atoi(version->c_str());

  if (app == 0 && ver == 0) {
    if (std::atoi(tables->c_str()) != 0) {
      *error = "not a registry store (a database of something else)";
      return false;
    }
    static const char* const kCreate[] = {
        kCreateKeys,
        kCreateVals,
        "INSERT INTO keys(id, parent, name) VALUES(1, NULL, 'HKEY_LOCAL_MACHINE')",
        "INSERT INTO keys(id, parent, name) VALUES(2, NULL, 'HKEY_CLASSES_ROOT')",
        "PRAGMA application_id = 1263948359",  // kApplicationId
        "PRAGMA user_version = 1",             // kSchemaVersion
    };
    static_assert(kApplicationId == 1263948359 && kSchemaVersion == 1);
    for (const char* sql : kCreate) {
      if (!Exec(db, sql)) {
        *error = std::string("cannot create the store: ") + sqlite3_errmsg(db);
        return false;
      }
    }
  } else if (app != kApplicationId) {
    *error = "not a registry store (a database of something else)";
    return false;
  } else if (ver != kSchemaVersion) {
    *error = "registry store of an unknown version " + *version;
    return false;
  } else {
    auto roots =
        QueryText(db, "SELECT count(*) FROM keys WHERE id IN (1, 2) AND parent IS NULL", error);
    if (!roots || !QueryText(db, "SELECT count(*) FROM vals", error)) {
      *error = "damaged registry store: " + *error;
      *damaged = true;
      return false;
    }
    if (*roots != "2") {
      *error = "damaged registry store: a root key is missing";
      *damaged = true;
      return false;
    }
    if (!HasOurTables(db)) {
      *error = "damaged registry store: its tables are not the ones it was made with";
      *damaged = true;
      return false;
    }
  }
  if (!transaction.Commit()) {
    *error = sqlite3_errmsg(db);
    return false;
  }
  return true;
}

}  // namespace

sqlite3* OpenSqliteStore(const std::string& path, std::string* error, OpenFailure* failure) {
  std::string reason;
  *failure = OpenFailure::Unreachable;
  auto fail = [&](const std::string& why) -> sqlite3* {
    *error = "cannot open the registry store \"" + path + "\": " + why;
    return nullptr;
  };
  if (path.empty()) return fail("no path given");
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) {
    return fail("cannot create its folder (" + std::string(std::strerror(errno)) + ")");
  }
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    *failure = OpenFailure::Damaged;
    return fail("not a regular file");
  }

  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    std::string why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    if (IsDamage(rc)) *failure = OpenFailure::Damaged;
    sqlite3_close_v2(db);
    return fail(why);
  }
  auto close_and_fail = [&](const std::string& why) {
    if (IsDamage(sqlite3_errcode(db))) *failure = OpenFailure::Damaged;
    CloseUnchanged(db);
    return fail(why);
  };
  sqlite3_busy_timeout(db, kBusyTimeoutMs);

  // The first read of the file tells whether it is a database at all.
  if (!QueryText(db, "PRAGMA schema_version", &reason)) {
    return close_and_fail("not a registry store (" + reason + ")");
  }
  // Another program's database is left exactly as it is: the change of its
  // journal below would already write to it.
  auto application_id = QueryText(db, "PRAGMA application_id", &reason);
  auto version = QueryText(db, "PRAGMA user_version", &reason);
  auto tables = QueryText(db, "SELECT count(*) FROM sqlite_master", &reason);
  if (application_id && version && tables) {
    const int app = std::atoi(application_id->c_str());
    if ((app != 0 && app != kApplicationId) ||
        (app == 0 && std::atoi(version->c_str()) == 0 && std::atoi(tables->c_str()) != 0))
      return close_and_fail("not a registry store (a database of something else)");
  }
  // The store is small; a full structural check at open turns a damaged file
  // into a clear failure instead of odd results later, and before anything
  // is written to it, so that it goes aside as it was found. Only the
  // integrity check compares each index with its table: an index entry that
  // disagrees reads well and fails the first write that touches it.
  auto check = QueryText(db, "PRAGMA integrity_check(1)", &reason);
  if (!check) return close_and_fail("damaged registry store (" + reason + ")");
  if (*check != "ok") {
    CloseUnchanged(db);
    *failure = OpenFailure::Damaged;
    return fail("damaged registry store (" + *check + ")");
  }
  // A header whose write version this SQLite does not know opens read-only
  // and passes the check, yet every write of the start would then fail: on a
  // file the user may write, that is damage like any other.
  if (sqlite3_db_readonly(db, "main") == 1) {
    const bool writable = access(path.c_str(), W_OK) == 0;
    CloseUnchanged(db);
    if (!writable) return fail("the file cannot be written");
    *failure = OpenFailure::Damaged;
    return fail("damaged registry store (its header lets it only be read)");
  }
  auto mode = QueryText(db, "PRAGMA journal_mode = WAL", &reason);
  if (!mode) return close_and_fail(reason);
  if (*mode != "wal") return close_and_fail("the write-ahead journal is not available");
  if (!Exec(db, "PRAGMA synchronous = FULL")) return close_and_fail(sqlite3_errmsg(db));
  if (!Exec(db, "PRAGMA foreign_keys = ON")) return close_and_fail(sqlite3_errmsg(db));
  auto foreign_keys = QueryText(db, "PRAGMA foreign_keys", &reason);
  if (!foreign_keys || *foreign_keys != "1") {
    return close_and_fail("SQLite without foreign key support");
  }
  bool damaged = false;
  if (!SetUpSchema(db, &reason, &damaged)) {
    CloseUnchanged(db);
    if (damaged) *failure = OpenFailure::Damaged;
    return fail(reason);
  }
  *failure = OpenFailure::None;
  return db;
}

std::unique_ptr<RegistryStore> StoreOnSqlite(sqlite3* db, bool keep_statements) {
  return std::make_unique<SqliteRegistryStore>(db, keep_statements);
}

std::unique_ptr<RegistryStore> RegistryStore::Open(const std::string& path, std::string* error) {
  std::string why;
  OpenFailure failure;
  sqlite3* db = OpenSqliteStore(path, &why, &failure);
  if (!db) {
    if (error) *error = why;
    return nullptr;
  }
  return StoreOnSqlite(db);
}

std::string RegistryStore::DefaultPath() {
  if (const char* path = std::getenv("KESTREVANE_REGISTRY"); path && *path) return path;
  std::string data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    data = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* user = getpwuid(getuid());
      home = user && user->pw_dir ? user->pw_dir : ".";
    }
    data = std::string(home) + "/.local/share";
  }
  while (data.size() > 1 && data.back() == '/') data.pop_back();
  return data + "/kestrevane/registry.db";
}

}  // namespace platform
