#pragma once
// Markers that last until the machine restarts: empty files in the runtime folder, which
// lives on a memory file system (/run), in place of the registry's volatile keys.
#include <string_view>

namespace platform {

// Creates the marker `name` (with the IPC prefix). Returns 1 when this call created it,
// 0 when it was there already, -1 with errno when it cannot be made.
int boot_marker_create(std::string_view name);
// Removes the marker. 0, or -1 with errno.
int boot_marker_remove(std::string_view name);
// True when the marker exists.
bool boot_marker_exists(std::string_view name);

}  // namespace platform
