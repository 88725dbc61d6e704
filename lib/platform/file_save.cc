#include "platform/file_save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_temporary.h"
#include "platform/last_error.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

constexpr int kMaxLinkDepth = 40;

// The temporary of one save, with the mode (and owner) its target must keep.
class Temporary : public SaveTemporary {
  public:
    // The mode (and owner) of the old file, or the mode asked for a new one.
    int take_attributes(const std::optional<struct stat>& old, const SaveOptions& options) {
        if (old) {
            struct stat mine {};
            if (::fstat(fd(), &mine) != 0) return fail_from_errno();
            // Only a privileged process may give the file away; any may pick one of its groups.
            if (old->st_uid != mine.st_uid || old->st_gid != mine.st_gid) {
                if (::fchown(fd(), old->st_uid, old->st_gid) != 0 && old->st_gid != mine.st_gid)
                    (void)::fchown(fd(), static_cast<uid_t>(-1), old->st_gid);
            }
            // After the owner: a change of owner clears the set-id bits.
            if (::fchmod(fd(), old->st_mode & 07777) != 0) return fail_from_errno();
        } else if (options.new_file_mode) {
            if (::fchmod(fd(), *options.new_file_mode & 07777) != 0) return fail_from_errno();
        }
        return 0;
    }
};

// Only a regular file is replaced: a save never puts a file in place of a folder or a device.
int refuse_unless_regular(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return 0;
    return fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
}

// The old file's attributes; none for a missing file, -1 for one that cannot be looked at.
int old_attributes(const std::string& target, std::optional<struct stat>& old) {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        old = st;
        return 0;
    }
    if (errno == ENOENT) return 0;
    return fail_from_errno();
}

// Copies the old file into the temporary: the number of bytes copied, or -1.
ssize_t copy_old_content(int from, int to) {
    std::vector<std::uint8_t> buffer(64 * 1024);
    std::uint64_t copied = 0;
    for (;;) {
        const ssize_t n = read_all(from, buffer);
        if (n < 0) return -1;
        if (n == 0) return static_cast<ssize_t>(copied);
        if (write_all(to, std::span(buffer).first(static_cast<std::size_t>(n))) != 0) return -1;
        copied += static_cast<std::uint64_t>(n);
    }
}

}  // namespace

std::string save_target(const std::string& path) {
    if (path.empty()) {
        fail(ENOENT);
        return {};
    }
    std::string current = path;
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno == ENOENT) return current;  // a new file, or a dangling link's end
            fail_from_errno();
            return {};
        }
        if (!S_ISLNK(st.st_mode)) return current;
        std::vector<char> link(PATH_MAX + 1);
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n < 0) {
            fail_from_errno();
            return {};
        }
        if (static_cast<std::size_t>(n) >= link.size()) {
            fail(ENAMETOOLONG);
            return {};
        }
        const std::string next(link.data(), static_cast<std::size_t>(n));
        current = next.front() == '/' ? next : folder_of(current) + "/" + next;
    }
    fail(ELOOP);
    return {};
}

struct StreamedSave::State {
    std::string target;
    Temporary temporary;
};

StreamedSave::StreamedSave() = default;
StreamedSave::~StreamedSave() = default;

int StreamedSave::begin(const std::string& path, const SaveOptions& options) {
    state_.reset();
    auto state = std::make_unique<State>();
    state->target = save_target(path);
    if (state->target.empty()) return -1;
    std::optional<struct stat> old;
    if (old_attributes(state->target, old) != 0) return -1;
    if (old && refuse_unless_regular(*old) != 0) return -1;
    if (state->temporary.create(state->target) != 0) return -1;
    if (state->temporary.take_attributes(old, options) != 0) return -1;
    state_ = std::move(state);
    return 0;
}

int StreamedSave::write(std::span<const std::uint8_t> bytes) {
    if (!state_) return fail(EBADF);
    if (write_all(state_->temporary.fd(), bytes) == 0) return 0;
    state_.reset();
    return -1;
}

int StreamedSave::commit() {
    if (!state_) return fail(EBADF);
    const std::unique_ptr<State> state = std::move(state_);
    return state->temporary.commit(state->target);
}

int save_file(const std::string& path, std::span<const std::uint8_t> bytes, const SaveOptions& options) {
    StreamedSave save;
    if (save.begin(path, options) != 0 || save.write(bytes) != 0) return -1;
    return save.commit();
}

int save_file(const std::string& path, std::string_view text, const SaveOptions& options) {
    return save_file(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), options);
}

int save_file_patched(const std::string& path, std::span<const FilePatch> patches, const SaveOptions& options) {
    std::uint64_t end = 0;
    for (const FilePatch& p : patches) {
        if (p.offset > static_cast<std::uint64_t>(LLONG_MAX) - p.bytes.size()) return fail(EFBIG);
        if (!p.bytes.empty()) end = std::max<std::uint64_t>(end, p.offset + p.bytes.size());
    }
    const std::string target = save_target(path);
    if (target.empty()) return -1;
    // The attributes and the content come from one open file, so both are of the same one.
    // Non-blocking, so that a FIFO in the target's place is refused rather than waited on.
    UniqueFd old_file = open_file(target, O_RDONLY | O_NONBLOCK);
    if (!old_file && errno != ENOENT) return -1;
    std::optional<struct stat> old;
    if (old_file) {
        struct stat st {};
        if (::fstat(old_file.get(), &st) != 0) return fail_from_errno();
        if (refuse_unless_regular(st) != 0) return -1;
        old = st;
    }
    Temporary temporary;
    if (temporary.create(target) != 0) return -1;
    if (temporary.take_attributes(old, options) != 0) return -1;
    std::uint64_t size = 0;
    if (old_file) {
        const ssize_t copied = copy_old_content(old_file.get(), temporary.fd());
        if (copied < 0) return -1;
        size = static_cast<std::uint64_t>(copied);
        old_file.reset();
    }
    if (end > size && ::ftruncate(temporary.fd(), static_cast<off_t>(end)) != 0) return fail_from_errno();
    for (const FilePatch& p : patches)
        if (pwrite_all(temporary.fd(), p.bytes, p.offset) != 0) return -1;
    return temporary.commit(target);
}

int move_into_place(const std::string& finished, const std::string& target_path) {
    const std::string target = save_target(target_path);
    if (target.empty()) return -1;
    remove_dead_temporaries(target);
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && refuse_unless_regular(st) != 0) return -1;
    {
        const UniqueFd fd = open_file(finished, O_RDONLY | O_NONBLOCK);
        if (!fd) return -1;
        if (::fstat(fd.get(), &st) != 0) return fail_from_errno();
        if (refuse_unless_regular(st) != 0) return -1;
        if (::fsync(fd.get()) != 0) return fail_from_errno();
        if (::rename(finished.c_str(), target.c_str()) == 0) {
            sync_folder_of(target);
            return 0;
        }
        if (errno != EXDEV) return fail_from_errno();
        Temporary temporary;
        if (temporary.create(target) != 0) return -1;
        if (::fchmod(temporary.fd(), st.st_mode & 07777) != 0) return fail_from_errno();
        if (copy_old_content(fd.get(), temporary.fd()) < 0) return -1;
        if (temporary.commit(target) != 0) return -1;
    }
    (void)::unlink(finished.c_str());
    return 0;
}

}  // namespace platform
