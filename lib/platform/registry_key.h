#pragma once
// Registry keys over the hive files: open, create, query, set, delete and list, with the
// registry's own result codes (0 success, 2 not found, 5 access denied, 6 closed key, 87 bad
// argument, 234 more data) and its in/out size rules for queries.
//
// A key exists once something is written to it or below it. Creating a key writes nothing,
// so a process without write access can still "create" and then read a key; the first value
// written makes it appear in the file. Every operation reads the hive as it is now (a stat
// decides whether the cached copy is current); a key handle holds no file open.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_file.h"
#include "platform/registry_store.h"

namespace platform {

// Access rights, with the registry's numbers.
inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr uint32_t kKeyNotify = 0x0010;
inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyWrite = 0x20006;
inline constexpr uint32_t kKeyAllAccess = 0xF003F;

class RegistryKey {
  public:
    RegistryKey() = default;

    // Opens an existing key (`path` relative to the hive's root; "" is the root itself).
    // Returns 0, 2 when neither the key nor anything below it exists, 87 for a bad path,
    // 5 when the hive file may not be read.
    static int open(RegistryHive hive, std::string_view path, uint32_t access, RegistryKey& key);
    // Opens a key whether it exists or not; `created` tells which. Returns 0, 87 for a bad
    // path, 5 when the hive file may not be read. Write access is checked when writing.
    static int create(RegistryHive hive, std::string_view path, uint32_t access, RegistryKey& key,
                      bool* created = nullptr);

    bool is_open() const { return open_; }
    void close() { open_ = false; }
    RegistryHive hive() const { return hive_; }
    const std::string& path() const { return path_; }
    uint32_t access() const { return access_; }

    // Reads a value the registry's way: `type` receives the type when not null; with `data`
    // null, `*size` receives the size needed; with `data`, `*size` is the buffer's capacity
    // on entry and the value's size on return, and a buffer too small gives 234 (nothing is
    // copied, `*size` says how much is needed). A REG_SZ is returned with its terminating
    // zero, which counts in its size. Needs query access (else 5); 2 for a missing value.
    int query_value(std::string_view name, uint32_t* type, void* data, uint32_t* size) const;
    // The same into a value record (REG_SZ data without the zero).
    int query_value(std::string_view name, RegistryValue& value) const;
    // A REG_SZ value as text; another type gives 1630.
    int query_string(std::string_view name, std::string& text) const;
    // A REG_DWORD value; another type gives 1630.
    int query_dword(std::string_view name, uint32_t& number) const;

    // Writes a value (`size` bytes of `data`). A REG_SZ ends at its first zero byte; a
    // REG_DWORD must be 4 bytes (else 87). Needs set-value access (else 5); values cannot
    // be written at the hive's root (5).
    int set_value(std::string_view name, uint32_t type, const void* data, uint32_t size);
    int set_string(std::string_view name, std::string_view text);
    int set_dword(std::string_view name, uint32_t number);
    // Removes a value. Needs set-value access; 2 when it does not exist.
    int delete_value(std::string_view name);

    // Names of the keys directly below this one. Needs enumerate access (else 5).
    int subkey_names(std::vector<std::string>& names) const;
    // Every value of this key, in file order. Needs query access (else 5).
    int values(std::vector<RegistryValue>& values) const;

  private:
    int find(std::string_view name, RegistryValue& value) const;

    bool open_ = false;
    RegistryHive hive_ = RegistryHive::machine;
    std::string path_;
    uint32_t access_ = 0;
};

// Connects to the registry of the computer `machine` (with or without leading "\\").
// Returns 0 for this computer (empty name, ".", "localhost" or this host's name) and 53,
// the failed-connection result, for any other: a remote registry is never reachable, so
// callers take their defaults.
int registry_connect(std::string_view machine);

}  // namespace platform
