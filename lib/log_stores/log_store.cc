#include "log_stores/log_store.h"

namespace log_stores {

int CLogStore::Open(const char*, const char*, std::uint32_t) { return 0; }
int CLogStore::OpenForLogging(LogHeader&) { return 0; }
void CLogStore::GetLocation(char*, std::size_t*) {}
int CLogStore::Close() { return 0; }
int CLogStore::WriteEndOffset(std::int32_t) { return 0; }
int CLogStore::WriteHeader(const LogHeader&, bool) { return 0; }
int CLogStore::ReadChannelConfig(const LogHeader&, qvr::ChannelRecord*, std::size_t, std::size_t, std::size_t) {
    return 0;
}
int CLogStore::WriteLogs(const LogHeader&, const std::uint8_t*, std::int32_t) { return 0; }
int CLogStore::ReadLogsByTime(const TimeStamp*, const TimeStamp*, const LogHeader&, std::uint8_t*, std::int32_t,
                              std::int32_t, std::int32_t, const char*, bool, bool) {
    return 0;
}
int CLogStore::RewriteLogs(std::int32_t, const LogHeader&, const std::uint8_t*, std::int32_t) { return 0; }
int CLogStore::GetNoMarkedLogs(const LogHeader&) { return 0; }
int CLogStore::ReadSectionW(const char*, char16_t*, std::size_t*, std::int32_t, std::int32_t) { return 0; }
int CLogStore::ReadSection(const char*, char*, std::size_t*, std::int32_t, std::int32_t) { return 0; }
int CLogStore::ReadSectionLinesW(const char*, const char16_t**, std::size_t*, char16_t*, std::size_t*, std::int32_t,
                                 std::int32_t) {
    return 0;
}
int CLogStore::ReadSectionLines(const char*, const char**, std::size_t*, char*, std::size_t*, std::int32_t,
                                std::int32_t) {
    return 0;
}
int CLogStore::AddTextW(std::int32_t, const char16_t*, const char16_t*, const char*) { return 0; }
int CLogStore::AddText(std::int32_t, const char*, const char*, const char*) { return 0; }
int CLogStore::AddTextPreciseW(const TimeStamp&, const char16_t*, const char16_t*, const char*) { return 0; }
int CLogStore::AddTextPrecise(const TimeStamp&, const char*, const char*, const char*) { return 0; }
int CLogStore::AddPosition(std::int32_t, bool, float) { return 0; }
int CLogStore::WriteHeaderTextW(const char16_t*) { return 0; }
int CLogStore::WriteHeaderText(const char*) { return 0; }
int CLogStore::WriteFormulae(const char*, std::int32_t, const char*) { return 0; }
int CLogStore::WriteUnitCategory(const char*, const char*) { return 0; }
int CLogStore::GetTextTime(std::int32_t&) { return -1; }
const char* CLogStore::GetErrorText() { return ""; }
const char* CLogStore::GetErrorContext() { return ""; }
int CLogStore::Rename(const char*) { return 0; }
void CLogStore::DeleteLogsInRange(const TimeStamp&, const TimeStamp&) {}
int CLogStore::TruncateLogs(const LogHeader&, std::int32_t) { return 0; }
int CLogStore::GetNoLogsInRange(const TimeStamp&, const TimeStamp&, const LogHeader& header) {
    return header.recordCount;
}

}  // namespace log_stores
