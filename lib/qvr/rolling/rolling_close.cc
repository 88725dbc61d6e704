// Finishing the current file, deleting it, and turning a finished one back into a running one.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_io.h"
#include "platform/last_error.h"
#include "qvr/rolling/rolling_file.h"
#include "platform/file_move.h"
#include "qvr/rolling/rolling_names.h"
#include "qvr/rolling/rolling_state.h"
#include "qvr/rolling/rolling_writer.h"

using qvr::rolling::RollingState;
using qvr::rolling::kStampLength;
using qvr::rolling::NameForm;

namespace {

constexpr int kWriteFlags = O_RDWR | O_DSYNC;

// Keeps the caller's error number across the close.
class ErrorKeeper {
  public:
    ErrorKeeper() : errno_(errno), last_(platform::last_error()) {}
    ~ErrorKeeper() {
        platform::set_last_error(last_);
        errno = errno_;
    }
    ErrorKeeper(const ErrorKeeper&) = delete;
    ErrorKeeper& operator=(const ErrorKeeper&) = delete;

  private:
    int errno_;
    int last_;
};

// The finished name of a file opened by name, or empty when its name is not of the form.
std::string finished_path_of(const RollingState& rf, int32_t end) {
    const std::string base = qvr::rolling::base_name(rf.current_name);
    const NameForm form = qvr::rolling::name_form(base, rf.prefix, rf.suffix);
    if (form == NameForm::other) return {};
    const std::string folder = rf.current_name.substr(0, rf.current_name.size() - base.size());
    return folder + base.substr(0, rf.prefix.size() + kStampLength) + "_" + time_FileStampText(end) + rf.suffix;
}

}  // namespace

int rf_Close(const int32_t* start_seconds, const int32_t* end_seconds, int read_only) {
    const ErrorKeeper keep;
    if (qvr::rolling::writer_running()) return -1;
    RollingState& rf = qvr::rolling::state();
    int result = 0;
    if (rf.header_fd) {
        if (rf_WriteHeader() != 0) result = -1;
        if (rf.header_fd.close() != 0) result = -1;
    }
    if (rf.write_fd && rf.write_fd.close() != 0) result = -1;
    rf.lock_held = false;
    if (rf.current_name.empty()) return -1;
    if (end_seconds == nullptr) {
        if (unlink(rf.current_name.c_str()) != 0) result = -1;
        return result;
    }
    std::string finished;
    if (start_seconds != nullptr) {
        finished = rf.folder + "/" + qvr::rolling::finished_name(rf.prefix, *start_seconds, *end_seconds, rf.suffix);
    } else {
        finished = finished_path_of(rf, *end_seconds);
    }
    if (!finished.empty() && finished != rf.current_name) {
        // A finished file of the same name is never replaced: this one keeps its running name.
        if (platform::move_no_replace(rf.current_name, finished) == 0) {
            rf.current_name = finished;
        } else {
            result = -1;
        }
    }
    qvr::rolling::set_read_only(rf.current_name, read_only != 0);
    return result;
}

int rf_ResumeFinished() {
    if (qvr::rolling::writer_running()) return platform::fail(platform::kErrorInvalidParameter);
    RollingState& rf = qvr::rolling::state();
    const std::string base = qvr::rolling::base_name(rf.current_name);
    if (qvr::rolling::name_form(base, rf.prefix, rf.suffix) != NameForm::finished) {
        return platform::fail(platform::kErrorInvalidParameter);
    }
    qvr::rolling::close_files(rf);
    const std::string folder = rf.current_name.substr(0, rf.current_name.size() - base.size());
    const std::string running = folder + base.substr(0, rf.prefix.size() + kStampLength) + rf.suffix;
    qvr::rolling::set_read_only(rf.current_name, false);
    if (platform::move_no_replace(rf.current_name, running) != 0) return -1;
    rf.current_name = running;
    platform::UniqueFd fd = platform::open_file(running, kWriteFlags);
    if (!fd) return platform::fail_from_errno();
    if (lseek(fd.get(), static_cast<off_t>(rf.current_offset), SEEK_SET) < 0) return platform::fail_from_errno();
    platform::UniqueFd header;
    if (rf.header_mode) {
        header = platform::open_file(running, kWriteFlags);
        if (!header) return platform::fail_from_errno();
    }
    rf.write_fd = std::move(fd);
    rf.header_fd = std::move(header);
    return 0;
}

int rf_Delete() {
    if (qvr::rolling::writer_running()) return platform::fail(platform::kErrorInvalidParameter);
    RollingState& rf = qvr::rolling::state();
    qvr::rolling::close_files(rf);
    if (rf.current_name.empty()) return platform::fail(platform::kErrorFileNotFound);
    if (unlink(rf.current_name.c_str()) != 0) return platform::fail_from_errno();
    rf.current_name.clear();
    return 0;
}
