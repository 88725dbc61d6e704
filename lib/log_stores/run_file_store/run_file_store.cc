#include "log_stores/run_file_store/run_file_store.h"

#include "platform/last_error.h"

namespace log_stores {

namespace {
int not_yet() { return platform::fail(platform::kErrorInvalidParameter); }
}  // namespace

CLogFileStore::~CLogFileStore() = default;

int CLogFileStore::Open(const char*, const char*, std::uint32_t) { return not_yet(); }
int CLogFileStore::OpenForLogging(LogHeader&) { return not_yet(); }
void CLogFileStore::GetLocation(char* text, std::size_t* size) { CLogStore::GetLocation(text, size); }
int CLogFileStore::Close() { return 0; }
int CLogFileStore::WriteEndOffset(std::int32_t) { return not_yet(); }
int CLogFileStore::ReadHeader(LogHeader&) { return not_yet(); }
int CLogFileStore::WriteHeader(const LogHeader&, bool) { return not_yet(); }
int CLogFileStore::ReadChannelConfig(const LogHeader&, qvr::ChannelRecord*, std::size_t, std::size_t, std::size_t) {
    return not_yet();
}
int CLogFileStore::WriteLogs(const LogHeader&, const std::uint8_t*, std::int32_t) { return not_yet(); }
int CLogFileStore::ReadLogsByTime(const TimeStamp*, const TimeStamp*, const LogHeader&, std::uint8_t*, std::int32_t,
                                  std::int32_t, std::int32_t, const char*, bool, bool) {
    return 0;
}
int CLogFileStore::ReadLogs(std::int32_t, const LogHeader&, std::uint8_t*, std::int32_t, std::int32_t, const char*,
                            std::int32_t) {
    return 0;
}
int CLogFileStore::ReadLog(std::int32_t, const LogHeader&, std::uint8_t*, std::int32_t, std::int32_t, std::int32_t,
                           const char*, std::int32_t, bool) {
    return not_yet();
}
int CLogFileStore::RewriteLogs(std::int32_t, const LogHeader&, const std::uint8_t*, std::int32_t) { return not_yet(); }
int CLogFileStore::GetNoLogs(const LogHeader&) { return not_yet(); }
int CLogFileStore::GetNoMarkedLogs(const LogHeader&) { return not_yet(); }
int CLogFileStore::ReadSectionW(const char*, char16_t*, std::size_t*, std::int32_t, std::int32_t) { return not_yet(); }
int CLogFileStore::ReadSection(const char*, char*, std::size_t*, std::int32_t, std::int32_t) { return not_yet(); }
int CLogFileStore::ReadSectionLinesW(const char*, const char16_t**, std::size_t*, char16_t*, std::size_t*,
                                     std::int32_t, std::int32_t) {
    return not_yet();
}
int CLogFileStore::ReadSectionLines(const char*, const char**, std::size_t*, char*, std::size_t*, std::int32_t,
                                    std::int32_t) {
    return not_yet();
}
int CLogFileStore::AddTextW(std::int32_t, const char16_t*, const char16_t*, const char*) { return not_yet(); }
int CLogFileStore::AddText(std::int32_t, const char*, const char*, const char*) { return not_yet(); }
int CLogFileStore::AddTextPreciseW(const TimeStamp&, const char16_t*, const char16_t*, const char*) {
    return not_yet();
}
int CLogFileStore::AddTextPrecise(const TimeStamp&, const char*, const char*, const char*) { return not_yet(); }
int CLogFileStore::AddPosition(std::int32_t, bool, float) { return not_yet(); }
int CLogFileStore::WriteHeaderTextW(const char16_t*) { return not_yet(); }
int CLogFileStore::WriteHeaderText(const char*) { return not_yet(); }
int CLogFileStore::WriteFormulae(const char*, std::int32_t, const char*) { return not_yet(); }
int CLogFileStore::WriteUnitCategory(const char*, const char*) { return not_yet(); }
int CLogFileStore::GetTextTime(std::int32_t&) { return not_yet(); }
const char* CLogFileStore::GetErrorText() { return ""; }
const char* CLogFileStore::GetErrorContext() { return ""; }
int CLogFileStore::Rename(const char*) { return 0; }
void CLogFileStore::DeleteLogsInRange(const TimeStamp&, const TimeStamp&) {}
int CLogFileStore::TruncateLogs(const LogHeader&, std::int32_t) { return not_yet(); }
int CLogFileStore::GetNoLogsInRange(const TimeStamp&, const TimeStamp&, const LogHeader& header) {
    return header.recordCount;
}
int CLogFileStore::CreateRunFile(const char*, const LogHeader&, const char*, const qvr::ChannelRecord* const*) {
    return not_yet();
}

}  // namespace log_stores
