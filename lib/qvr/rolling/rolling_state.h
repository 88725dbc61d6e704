#pragma once
// The one RollingFile of the process. While the writer thread runs it owns the offsets and
// the end lock; the caller touches them again only after rf_StopWriter.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/unique_fd.h"

namespace qvr::rolling {

inline constexpr std::size_t kFolderCapacity = 260;

struct RollingState {
    std::string folder;
    std::string suffix;
    std::string prefix;
    std::string current_name;  // full path of the current file
    platform::UniqueFd write_fd;
    platform::UniqueFd header_fd;
    bool header_mode = false;
    uint64_t current_offset = 0;
    uint64_t end_offset = 0;  // highest offset written
    bool lock_held = false;
    uint64_t locked_offset = 0;
};

RollingState& state();

// The base name of a path.
std::string base_name(const std::string& path);

}  // namespace qvr::rolling

namespace qvr::rolling {

// Closes both descriptors (the end lock goes with them).
void close_files(RollingState& rf);
void reset_offsets(RollingState& rf);

// Calls `visit` with each entry name of `folder` except empty ones and those starting with
// '.', and the name as it is examined (top bit of the last character cleared). 0 / -1.
int list_folder(const std::string& folder,
                const std::function<void(const std::string& entry, const std::string& examined)>& visit);

// Sets the file's write permission as "normal" or takes every write bit away ("read-only").
void set_read_only(const std::string& path, bool read_only);

}  // namespace qvr::rolling
