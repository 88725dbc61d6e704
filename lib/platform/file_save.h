#pragma once
// Whole-file saves: the new content goes to a uniquely named temporary in the target's
// folder, is synced, and is renamed over the target, and the folder is synced. A reader,
// a crash or a full disk sees the old file or the new one, never part of one; on any
// failure the temporary is removed and the target is left as it was.
//
// A target that is a symbolic link stays a link: the file it leads to is the one saved.
// A rewritten file keeps its mode, and its owner and group where the process may set them.
// A process killed during a save can leave its temporary (".<name>.<pid>.<random>") behind;
// later saves never reuse or depend on it, and the next save of the same target, or a
// reader's remove_dead_temporaries, removes it once its writer is gone (file_temporary.h).
//
// Results are 0 / -1 with the reason set by platform::fail.
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform {

struct SaveOptions {
    // Mode given to a file that did not exist; unset: 0666 less the umask.
    std::optional<mode_t> new_file_mode;
};

int save_file(const std::string& path, std::span<const std::uint8_t> bytes, const SaveOptions& options = {});
int save_file(const std::string& path, std::string_view text, const SaveOptions& options = {});

// The same save with the content written in pieces (a download): nothing changes at the
// target until commit() succeeds; a save given up (a failed step, no commit) removes its
// temporary.
class StreamedSave {
  public:
    StreamedSave();
    ~StreamedSave();
    StreamedSave(const StreamedSave&) = delete;
    StreamedSave& operator=(const StreamedSave&) = delete;

    int begin(const std::string& path, const SaveOptions& options = {});
    int write(std::span<const std::uint8_t> bytes);
    int commit();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Bytes to put at an offset of a file.
struct FilePatch {
    std::uint64_t offset;
    std::span<const std::uint8_t> bytes;
};
// Saves the old content (none for a missing file) with the patches laid over it in order:
// zeros fill the gap to a patch past the old end, nothing is cut off, and an empty patch
// lengthens nothing. The same whole-file save as above.
int save_file_patched(const std::string& path, std::span<const FilePatch> patches,
                      const SaveOptions& options = {});

// Puts a finished file (one another program wrote) in place of `target` the same way: it is
// synced, renamed over the target and the folder synced. From another file system its
// content is saved whole beside the target first and `finished` is removed afterwards.
int move_into_place(const std::string& finished, const std::string& target);

// Removes the temporaries that saves of `path` left behind when they were killed, never one
// whose writer may still run. For readers of a file; every save does it itself. Failures
// are ignored (errno is kept).
void remove_dead_temporaries(const std::string& path);

// The file a save of `path` writes: `path` itself, or the end of its chain of symbolic
// links (which need not exist yet). Empty with errno set (ELOOP, ...) when unresolvable.
std::string save_target(const std::string& path);

}  // namespace platform
