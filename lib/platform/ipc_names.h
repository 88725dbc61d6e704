#pragma once
// Where the named objects of the system live on Linux. Every shared-memory object and
// every mailslot file gets an optional prefix, read once from QUORVANE_IPC_PREFIX (empty by
// default, which gives exactly the system's names), so tests and demos never meet a real
// installation. Mailslot files live in one runtime folder (QUORVANE_RUNTIME_DIR, else
// /run/quorvane, else $XDG_RUNTIME_DIR/quorvane).
#include <sys/types.h>

#include <string>
#include <string_view>

namespace platform {

// Folder that holds the POSIX shared-memory objects (needed to link() them into place).
inline constexpr const char* kShmFolder = "/dev/shm";
// Mode of the runtime folder: only the owner and the product's group may send.
inline constexpr mode_t kRuntimeDirMode = 0770;

// The prefix, read once per process.
const std::string& ipc_prefix();
// The runtime folder, chosen once per process (it is not created here).
const std::string& runtime_dir();

// "/" + prefix + name: the name to give shm_open for a system object name.
std::string shm_object_name(std::string_view name);
// runtime folder + "/" + prefix + name: the socket file of a mailslot.
std::string mailslot_file(std::string_view name);

// Creates the runtime folder (and its parents) when missing, with mode 0770.
// 0, or -1 with errno set.
int ensure_runtime_dir();

}  // namespace platform
