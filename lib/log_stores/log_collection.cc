#include "log_stores/log_collection.h"

#include <cstring>

#include "platform/last_error.h"

namespace log_stores {

int CLogCollection::Open(const char*, const char*, const char*, const char* prefix, std::uint32_t) {
    const std::size_t length = prefix == nullptr ? 0 : std::strlen(prefix);
    if (length > kMaxRunPrefix) return platform::fail(0);
    prefix_.assign(prefix == nullptr ? "" : prefix, length);
    return 0;
}

void CLogCollection::Placeholder(std::intptr_t) {}
void CLogCollection::DeleteRunsBefore(std::int32_t) {}
int CLogCollection::BeginRunList(std::size_t*) { return 0; }
int CLogCollection::GetNextRun(char*, TimeStamp*, TimeStamp*) { return 0; }
int CLogCollection::GetLatestRun(char*, std::size_t*, TimeStamp*, TimeStamp*, bool) { return 0; }

std::unique_ptr<CLogStore> CLogCollection::NewRunW(std::int32_t*, bool, std::intptr_t, LogHeader&, const char16_t*,
                                                   bool, const char*, bool, const qvr::ChannelRecord* const*) {
    return nullptr;
}

std::unique_ptr<CLogStore> CLogCollection::NewRun(std::int32_t*, bool, std::intptr_t, LogHeader&, const char*, bool,
                                                  const char*, bool, const qvr::ChannelRecord* const*) {
    return nullptr;
}

std::unique_ptr<CLogStore> CLogCollection::OpenStore(const char*, std::uint32_t) { return nullptr; }
int CLogCollection::FinishRun(CLogStore&, const TimeStamp*, const TimeStamp*, bool) { return 0; }
const char* CLogCollection::GetErrorText() { return ""; }
const char* CLogCollection::GetErrorContext() { return ""; }
void CLogCollection::GetStoreLocation(const char*, char*, std::size_t*) {}

}  // namespace log_stores
