// Recovery of a damaged registry store. A user cannot repair this file by
// hand as one could the system's registry, so a store that SQLite reports
// as damaged is moved aside under a dated name, untouched, and a fresh store
// takes its place with every key and value that could still be read from a
// copy of the damaged one.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "platform/registry_store.h"
#include "platform/registry_store_sqlite.h"

namespace platform {
namespace {

struct KeyRow {
  int64_t id, parent;
  std::string name;
};
struct ValueRow {
  int64_t key;
  std::string name;
  int64_t type;
  bool text_null, number_null;
  std::string text;
  int64_t number, seq;
};

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// "<path>.damaged-20261209-211530", with "-2", "-3", ... when taken.
std::string DatedName(const std::string& path, std::time_t now) {
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = path + ".damaged-" + stamp;
  std::string name = base;
  for (int n = 2; Exists(name) || Exists(name + "-wal"); ++n) name = base + "-" + std::to_string(n);
  return name;
}

bool CopyFile(const std::string& from, const std::string& to) {
  std::FILE* in = std::fopen(from.c_str(), "rb");
  if (!in) return false;
  std::FILE* out = std::fopen(to.c_str(), "wb");
  bool ok = out != nullptr;
  char buffer[1 << 16];
  while (ok) {
    const size_t n = std::fread(buffer, 1, sizeof buffer, in);
    if (n == 0) break;
    ok = std::fwrite(buffer, 1, n, out) == n;
  }
  ok = ok && !std::ferror(in);
  std::fclose(in);
  if (out && std::fclose(out) != 0) ok = false;
  return ok;
}

std::string Text(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_column_bytes(stmt, column)))
              : std::string();
}

// Column 0 is the row id; the row's own columns follow.
KeyRow ReadKey(sqlite3_stmt* stmt) {
  return {sqlite3_column_int64(stmt, 1), sqlite3_column_int64(stmt, 2), Text(stmt, 3)};
}

ValueRow ReadValue(sqlite3_stmt* stmt) {
  return {sqlite3_column_int64(stmt, 1),
          Text(stmt, 2),
          sqlite3_column_int64(stmt, 3),
          sqlite3_column_type(stmt, 4) == SQLITE_NULL,
          sqlite3_column_type(stmt, 5) == SQLITE_NULL,
          Text(stmt, 4),
          sqlite3_column_int64(stmt, 5),
          sqlite3_column_int64(stmt, 6)};
}

// Reads the rows of a table in row id order from `from` on, as far as the
// file allows. Returns true when the end of the table was reached; on a
// damaged page `*last` is the last row id read. A damaged tree can also hand
// back a row out of order: that counts as damage, since going on from an
// earlier row would read the same rows again without end.
template <typename Row>
bool ReadFrom(sqlite3_stmt* stmt, int64_t from, Row (*read)(sqlite3_stmt*), std::vector<Row>& rows,
              int64_t* last) {
  sqlite3_reset(stmt);
  sqlite3_bind_int64(stmt, 1, from);
  int rc;
  bool first = true;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const int64_t id = sqlite3_column_int64(stmt, 0);
    if (first ? id < from : id <= *last) return false;
    first = false;
    rows.push_back(read(stmt));
    *last = id;
  }
  return rc == SQLITE_DONE;
}

// Whether a seek to `from` reaches a readable page: the table ends there, or
// its first row is in order.
bool Readable(sqlite3_stmt* stmt, int64_t from) {
  sqlite3_reset(stmt);
  sqlite3_bind_int64(stmt, 1, from);
  const int rc = sqlite3_step(stmt);
  return rc == SQLITE_DONE || (rc == SQLITE_ROW && sqlite3_column_int64(stmt, 0) >= from);
}

// Every row of a table that can still be read (`sql` selects from row id
// ?1 on, in order). A damaged page loses only its own rows: the scan goes on
// at the first row id past it, found by seeking ever further and then back
// to the smallest that is readable.
template <typename Row>
void ReadRows(sqlite3* db, const char* sql, Row (*read)(sqlite3_stmt*), std::vector<Row>& rows) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return;
  }
  constexpr int64_t kFarthest = int64_t{1} << 62;
  int64_t last = std::numeric_limits<int64_t>::min();
  int64_t from = last;
  while (!ReadFrom(stmt, from, read, rows, &last)) {
    if (last == std::numeric_limits<int64_t>::min()) last = 0;  // the very first page
    int64_t bad = last, step = 1;
    while (step < kFarthest && last < kFarthest && !Readable(stmt, last + step)) {
      bad = last + step;
      step *= 2;
    }
    if (step >= kFarthest || last >= kFarthest) break;
    int64_t good = last + step;
    while (good - bad > 1) {
      const int64_t middle = bad + (good - bad) / 2;
      (Readable(stmt, middle) ? good : bad) = middle;
    }
    from = good;
    last = good - 1;
  }
  sqlite3_finalize(stmt);
}

// SQLite takes the page count from the header, which a truncated file no
// longer matches; the copy is made to say how many pages it really holds.
void FitPageCount(const std::string& copy) {
  std::FILE* file = std::fopen(copy.c_str(), "r+b");
  if (!file) return;
  unsigned char header[100];
  struct stat st;
  if (std::fread(header, 1, sizeof header, file) == sizeof header &&
      std::memcmp(header, "SQLite format 3", 16) == 0 && ::fstat(fileno(file), &st) == 0) {
    unsigned page_size = (header[16] << 8) | header[17];
    if (page_size == 1) page_size = 65536;
    if (page_size >= 512) {
      const auto pages = static_cast<uint32_t>(static_cast<uint64_t>(st.st_size) / page_size);
      const unsigned char count[4] = {
          static_cast<unsigned char>(pages >> 24), static_cast<unsigned char>(pages >> 16),
          static_cast<unsigned char>(pages >> 8), static_cast<unsigned char>(pages)};
      std::fseek(file, 28, SEEK_SET);
      std::fwrite(count, 1, sizeof count, file);
    }
  }
  std::fclose(file);
}

// Reads what it can of the store file `copy`.
void Salvage(const std::string& copy, std::vector<KeyRow>& keys, std::vector<ValueRow>& values) {
  FitPageCount(copy);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(db);
    return;
  }
  ReadRows(db, "SELECT rowid, id, parent, name FROM keys WHERE rowid >= ?1 ORDER BY rowid",
           &ReadKey, keys);
  ReadRows(db,
           "SELECT rowid, key, name, type, sdata, ddata, seq FROM vals "
           "WHERE rowid >= ?1 ORDER BY rowid",
           &ReadValue, values);
  sqlite3_close_v2(db);
}

bool Run(sqlite3_stmt* stmt) {
  const bool ok = sqlite3_step(stmt) == SQLITE_DONE;
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return ok;
}

// Puts the salvaged rows into the fresh store `db`: a key whose parent
// survived keeps its id (ids only grow, so the order of subkeys stays), a
// value whose key survived keeps its place.
void Restore(sqlite3* db, std::vector<KeyRow> keys, const std::vector<ValueRow>& values,
             RegistryStore::Recovery& recovery) {
  std::sort(keys.begin(), keys.end(), [](const KeyRow& a, const KeyRow& b) { return a.id < b.id; });
  sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  std::set<int64_t> kept = {1, 2};  // the roots of the fresh store
  sqlite3_stmt* key = nullptr;
  sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO keys(id, parent, name) VALUES(?1, ?2, ?3)", -1,
                     &key, nullptr);
  for (const KeyRow& row : keys) {
    // Key ids are positive: the store takes 0 for a key that is not there.
    if (row.id <= 0 || kept.count(row.id) || !kept.count(row.parent) || row.name.empty()) continue;
    sqlite3_bind_int64(key, 1, row.id);
    sqlite3_bind_int64(key, 2, row.parent);
    sqlite3_bind_text(key, 3, row.name.data(), static_cast<int>(row.name.size()), SQLITE_TRANSIENT);
    if (Run(key) && sqlite3_changes(db) > 0) {
      kept.insert(row.id);
      ++recovery.keys_recovered;
    }
  }
  sqlite3_finalize(key);
  sqlite3_stmt* value = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT OR IGNORE INTO vals(key, name, type, sdata, ddata, seq) "
                     "VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
                     -1, &value, nullptr);
  for (const ValueRow& row : values) {
    if (!kept.count(row.key) || (row.type != 1 && row.type != 2)) continue;
    if ((row.type == 1 && row.text_null) || (row.type == 2 && row.number_null)) continue;
    sqlite3_bind_int64(value, 1, row.key);
    sqlite3_bind_text(value, 2, row.name.data(), static_cast<int>(row.name.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_int64(value, 3, row.type);
    if (row.type == 1) {
      sqlite3_bind_text(value, 4, row.text.data(), static_cast<int>(row.text.size()),
                        SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_int64(value, 5, row.number);
    }
    sqlite3_bind_int64(value, 6, row.seq);
    if (Run(value) && sqlite3_changes(db) > 0) ++recovery.values_recovered;
  }
  sqlite3_finalize(value);
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    recovery.keys_recovered = recovery.values_recovered = 0;
  }
}

}  // namespace

std::unique_ptr<RegistryStore> RegistryStore::OpenOrRecover(const std::string& path,
                                                            Recovery* recovery,
                                                            std::string* error) {
  Recovery local;
  Recovery& report = recovery ? *recovery : local;
  report = Recovery();
  std::string why;
  OpenFailure failure;
  if (sqlite3* db = OpenSqliteStore(path, &why, &failure)) return StoreOnSqlite(db);
  if (failure != OpenFailure::Damaged) {
    if (error) *error = why;
    return nullptr;
  }
  report.cause = why;

  // The damaged file goes aside untouched, with its journal, which holds
  // writes it has not taken in yet; the journal's index is rebuilt anyway.
  const std::string dated = DatedName(path, std::time(nullptr));
  if (::rename(path.c_str(), dated.c_str()) != 0) {
    if (error) *error = why + "; it cannot be moved aside (" + std::strerror(errno) + ")";
    return nullptr;
  }
  report.damaged_path = dated;
  if (Exists(path + "-wal")) ::rename((path + "-wal").c_str(), (dated + "-wal").c_str());
  ::unlink((path + "-shm").c_str());

  // Read from a copy: opening a store may write to it, and the damaged file
  // stays as it was found.
  std::vector<KeyRow> keys;
  std::vector<ValueRow> values;
  struct stat st;
  if (::stat(dated.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    const std::string copy = path + ".salvage";
    for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((copy + suffix).c_str());
    if (CopyFile(dated, copy) &&
        (!Exists(dated + "-wal") || CopyFile(dated + "-wal", copy + "-wal")))
      Salvage(copy, keys, values);
    for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((copy + suffix).c_str());
  }

  sqlite3* fresh = OpenSqliteStore(path, &why, &failure);
  if (!fresh) {
    if (error) *error = why;
    return nullptr;
  }
  Restore(fresh, std::move(keys), values, report);
  return StoreOnSqlite(fresh);
}

}  // namespace platform
