// The run's text, kept in its ".txt" companion by the logger text-file operations.
#include <sys/stat.h>

#include <cerrno>

#include "log_stores/run_file/run_name.h"
#include "log_stores/run_file_store/remote_run_file.h"
#include "log_stores/run_file_store/run_file_store.h"
#include "platform/last_error.h"
#include "qvr/diag/trace.h"

namespace log_stores {

namespace {
int text_not_available(const char* operation) {
    std::string message = std::string("Run file store: ") + operation + " has no text-file operations here";
    trace_Write(message.c_str());
    return platform::fail(platform::kErrorInvalidParameter);
}
}  // namespace

std::string CLogFileStore::text_companion() const { return run_file::companion_name(localPath_, ".txt"); }

int CLogFileStore::ReadSectionW(const char*, char16_t*, std::size_t*, std::int32_t, std::int32_t) {
    return text_not_available("ReadSectionW");
}
int CLogFileStore::ReadSection(const char*, char*, std::size_t*, std::int32_t, std::int32_t) {
    return text_not_available("ReadSection");
}
int CLogFileStore::ReadSectionLinesW(const char*, const char16_t**, std::size_t*, char16_t*, std::size_t*,
                                     std::int32_t, std::int32_t) {
    return text_not_available("ReadSectionLinesW");
}
int CLogFileStore::ReadSectionLines(const char*, const char**, std::size_t*, char*, std::size_t*, std::int32_t,
                                    std::int32_t) {
    return text_not_available("ReadSectionLines");
}
int CLogFileStore::AddTextW(std::int32_t, const char16_t*, const char16_t*, const char*) {
    return text_not_available("AddTextW");
}
int CLogFileStore::AddText(std::int32_t, const char*, const char*, const char*) { return text_not_available("AddText"); }
int CLogFileStore::AddTextPreciseW(const TimeStamp&, const char16_t*, const char16_t*, const char*) {
    return text_not_available("AddTextPreciseW");
}
int CLogFileStore::AddTextPrecise(const TimeStamp&, const char*, const char*, const char*) {
    return text_not_available("AddTextPrecise");
}
int CLogFileStore::AddPosition(std::int32_t, bool, float) { return text_not_available("AddPosition"); }
int CLogFileStore::WriteHeaderTextW(const char16_t*) { return text_not_available("WriteHeaderTextW"); }
int CLogFileStore::WriteHeaderText(const char*) { return text_not_available("WriteHeaderText"); }
int CLogFileStore::WriteFormulae(const char*, std::int32_t, const char*) { return text_not_available("WriteFormulae"); }
int CLogFileStore::WriteUnitCategory(const char*, const char*) { return text_not_available("WriteUnitCategory"); }

int CLogFileStore::GetTextTime(std::int32_t& seconds) {
    if (!mainHandle_.valid()) {
        if (server_.empty()) return platform::fail(EBADF);
        const auto time = run_file_store::remote_write_time(server_, run_file::companion_name(remotePath_, ".txt"));
        if (!time) return -1;
        seconds = static_cast<std::int32_t>(*time);
        return 0;
    }
    struct stat st {};
    if (::stat(text_companion().c_str(), &st) != 0) return platform::fail_from_errno();
    seconds = static_cast<std::int32_t>(st.st_mtim.tv_sec);
    return 0;
}

}  // namespace log_stores
