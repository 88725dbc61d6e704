#pragma once
// For tests only: a save held where a crash leaves its temporary behind.

namespace platform {

// Called by every whole-file save with its temporary's path once the temporary holds the
// whole new content, synced, just before the rename. Null: none.
using BeforeRenameHook = void (*)(const char* temporary);
void set_before_rename_hook(BeforeRenameHook hook);

}  // namespace platform
