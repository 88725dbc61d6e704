#pragma once
// The hive files behind the registry: one text file per hive, read through a per-process
// cache that one stat re-checks, written under a lock file by replacing the whole file, so
// a reader sees the old or the new file and never half of one.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/last_error.h"
#include "platform/registry_file.h"

namespace platform {

enum class RegistryHive { machine, user };

// Results of registry operations beyond those of last_error.h (registry numbering).
inline constexpr int kErrorInvalidHandle = 6;
inline constexpr int kErrorRegistryIoFailed = 1016;
inline constexpr int kErrorUnsupportedType = 1630;

// Folder of both hive files: $BREVANTIC_REGISTRY_DIR when set, else /etc/brevantic for the
// machine hive and ${XDG_CONFIG_HOME:-~/.config}/brevantic for the user hive.
std::filesystem::path registry_hive_folder(RegistryHive hive);
// That folder plus "machine.reg" or "user.reg".
std::filesystem::path registry_hive_file(RegistryHive hive);

// The hive as it is now; a missing file is an empty hive. Returns 0, 5 when the file may not
// be read, or another registry error code.
int registry_load(RegistryHive hive, std::shared_ptr<const RegistryDocument>& document);

// Changes a hive: takes the hive's lock file, reads the file afresh, calls `change` and, when
// that returns 0, writes the result to a temporary file, syncs it and renames it over the
// hive file. Any other result of `change` leaves the file untouched and is returned.
// Returns 0, 5 when the hive may not be written, 1460 when the lock stays taken for seconds,
// or another registry error code.
int registry_update(RegistryHive hive, const std::function<int(RegistryDocument&)>& change);

// Where skipped lines of hive files are reported (one message each). Standard error until set;
// an empty function silences them. The sink may be called during a write, with the hive's
// lock held: it must not write to the registry itself.
void set_registry_diagnostics(std::function<void(const std::string& message)> sink);

}  // namespace platform
