// Deleting the files that are older than the retention period.
#include <unistd.h>

#include "platform/last_error.h"
#include "qvr/rolling/rolling_file.h"
#include "qvr/rolling/rolling_names.h"
#include "qvr/rolling/rolling_state.h"

int rf_Purge(const PeriodSpec* period, const char* suffix) {
    if (period == nullptr) return platform::fail(platform::kErrorInvalidArgument);
    qvr::rolling::RollingState& rf = qvr::rolling::state();
    TimeStamp now{};
    rt_GetLocalStamp(&now);
    const int64_t cutoff = time_SubtractPeriod(&now, period)->seconds;
    const std::string wanted_suffix = suffix != nullptr ? suffix : "";
    // The file being written is never deleted under the writer, however long it has run.
    const std::string being_written = rf.write_fd ? qvr::rolling::base_name(rf.current_name) : std::string();
    int result = 0;
    if (qvr::rolling::list_folder(rf.folder, [&](const std::string& entry, const std::string& examined) {
            const auto stamp = qvr::rolling::last_stamp(examined, wanted_suffix);
            if (!stamp || *stamp >= cutoff || entry == being_written) return;
            const std::string path = rf.folder + "/" + entry;
            qvr::rolling::set_read_only(path, false);
            if (unlink(path.c_str()) != 0) result = platform::fail_from_errno();
        }) != 0) {
        return -1;
    }
    return result;
}
