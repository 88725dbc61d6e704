#pragma once
#include <string>

// Configuration archives: the current folder (a saved configuration), its sibling folders
// SAVED_VALUES and REPLAY_OPTIONS and, when asked, the edition's extra folders, packed by
// the target's extension: ".qvr" tar then compressed, ".tar" tar, else the product's own
// archiver "qvzip" from QVR_BIN. The archive is written under a temporary name and renamed
// into place, so no half archive is ever left under the target's name.

// 0, or -1 with the archiver's exit code (or the start failure) as the error number.
// `unused` is not read.
int save_ArchiveConfig(const char* target, const void* unused, int extra_folders);
// The same for the configuration folder `config_folder` (its siblings beside it): the
// archivers run with that folder as their working folder and a relative target lies in it,
// so the process's current folder is neither read nor changed. A missing folder: -1 with 3.
int save_ArchiveConfig(const char* target, const void* unused, int extra_folders, const char* config_folder);

namespace qvr {
// The extra folder names for the configured edition ("ExtraSaveDirs" when set).
std::string archive_extra_folders();
}  // namespace qvr
