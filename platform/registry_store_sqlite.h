#pragma once

// Inside the SQLite registry store: the open that tells a damaged file from
// one that cannot be reached, shared by the store and its recovery.

#include <sqlite3.h>

#include <memory>
#include <string>

#include "platform/registry_store.h"

namespace platform {

enum class OpenFailure {
  None,
  Damaged,      // the file is there but broken: garbage, truncated, a folder in its place
  Unreachable,  // anything else: no folder, no permission, another program's database, ...
};

// Opens the store file, creating it with its schema when missing, and checks
// it. Null on failure, with the reason (naming the file) and its kind.
sqlite3* OpenSqliteStore(const std::string& path, std::string* error, OpenFailure* failure);

// The store over a connection OpenSqliteStore gave; it closes the connection.
// It keeps each statement prepared for the next use; with `keep_statements`
// false it prepares each for its one use instead (the peer that
// tools/registry_start_bench measures against).
std::unique_ptr<RegistryStore> StoreOnSqlite(sqlite3* db, bool keep_statements = true);

}  // namespace platform
