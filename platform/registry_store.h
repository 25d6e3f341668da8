#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The two registry roots the system uses.
enum class RegistryRoot { LocalMachine, ClassesRoot };

// Types of stored values; reading a value as the other type fails.
enum class RegistryValueType { None, String, DWord };

// The per-user registry store: a tree of keys under each root, each key with
// named REG_SZ / REG_DWORD values. Key paths use "\" between names
// ("Software\Orvalen\Kestrevane\Jobs"), leading and doubled separators are
// ignored, and names compare case-insensitively while keeping the case they
// were created with. The default value of a key has the empty name.
//
// Every operation is one transaction: a process killed in the middle of a
// write leaves the store as it was before that operation. Several processes
// may open the same store at once.
class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  // Opens (creating if needed) the store file at `path`. On failure returns
  // null and, if `error` is given, a readable reason (unreadable file,
  // not a store, ...).
  static std::unique_ptr<RegistryStore> Open(const std::string& path, std::string* error = nullptr);

  // What OpenOrRecover found and did with a damaged store.
  struct Recovery {
    std::string damaged_path;  // where the damaged file is kept; empty: nothing was damaged
    std::string cause;         // what was wrong with it
    int keys_recovered = 0;    // keys and values copied into the fresh store
    int values_recovered = 0;
  };
  // Opens the store as Open does. A store that is damaged (garbage,
  // truncated, a folder in its place) is renamed beside itself to
  // "<path>.damaged-<yyyymmdd>-<hhmmss>" and left untouched there; a fresh
  // store at `path` takes every key and value that can still be read from
  // it. Null, with the path and the cause in `error`, only when no store can
  // be had at `path` at all.
  static std::unique_ptr<RegistryStore> OpenOrRecover(const std::string& path, Recovery* recovery,
                                                      std::string* error);

  // The store of this user: $KESTREVANE_REGISTRY if set, otherwise
  // $XDG_DATA_HOME/kestrevane/registry.db (~/.local/share when unset).
  static std::string DefaultPath();

  virtual bool KeyExists(RegistryRoot root, const std::string& key) = 0;
  // Creates the key and any missing parents; true when it exists afterwards.
  virtual bool CreateKey(RegistryRoot root, const std::string& key) = 0;
  // Deletes the key with all its values and subkeys. False if it does not
  // exist or the store could not be written. The root itself is never deleted.
  virtual bool DeleteKey(RegistryRoot root, const std::string& key) = 0;
  // Moves a key with its values and subkeys to a new name (a copy and a delete
  // in one transaction). Fails if `from` does not exist, `to` exists, or `to`
  // lies inside `from`. Missing parents of `to` are created.
  virtual bool MoveKey(RegistryRoot root, const std::string& from, const std::string& to) = 0;

  // Names of the direct subkeys / values, in creation order; nullopt if the
  // key does not exist.
  virtual std::optional<std::vector<std::string>> SubKeyNames(RegistryRoot root,
                                                              const std::string& key) = 0;
  virtual std::optional<std::vector<std::string>> ValueNames(RegistryRoot root,
                                                             const std::string& key) = 0;

  // Writing needs an existing key; it replaces a value of either type.
  virtual bool WriteString(RegistryRoot root, const std::string& key, const std::string& name,
                           const std::string& data) = 0;
  virtual bool WriteDWord(RegistryRoot root, const std::string& key, const std::string& name,
                          uint32_t data) = 0;

  virtual RegistryValueType ValueType(RegistryRoot root, const std::string& key,
                                      const std::string& name) = 0;
  // nullopt when the key or value is missing or the value has the other type.
  virtual std::optional<std::string> ReadString(RegistryRoot root, const std::string& key,
                                                const std::string& name) = 0;
  virtual std::optional<uint32_t> ReadDWord(RegistryRoot root, const std::string& key,
                                            const std::string& name) = 0;
  virtual bool DeleteValue(RegistryRoot root, const std::string& key, const std::string& name) = 0;

  // Runs `body` as one transaction: every operation it makes on this store
  // lands together when it returns true, and none of them when it returns
  // false or the process dies before the end. Other processes see either the
  // state before or the state after.
  virtual bool Atomically(const std::function<bool()>& body) = 0;
};

}  // namespace platform
