#include "log_stores/log_factory.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "log_stores/db_collection/db_collection.h"
#include "log_stores/db_store/db_store.h"
#include "log_stores/log_location.h"
#include "log_stores/run_file_collection/run_file_collection.h"
#include "log_stores/run_file_store/run_file_store.h"

namespace log_stores {

namespace {
constexpr std::size_t kLoggerNameSize = 260;
constexpr std::size_t kRunNameSize = 20;
struct MySqlMakers {
    StoreMaker store;
    CollectionOnlyMaker collection;
};
MySqlMakers& mysql_makers() {
    static MySqlMakers makers;
    return makers;
}
}  // namespace

void SetMySqlMakers(StoreMaker store, CollectionOnlyMaker collection) {
    mysql_makers() = {std::move(store), std::move(collection)};
}

std::unique_ptr<CLogStore> CreateLogStore(const char* location) {
    switch (GetLocationKind(location)) {
        case LocationKind::File:
            return std::make_unique<CLogFileStore>();
        case LocationKind::Ado:
            return std::make_unique<CLogDbStore>();
        case LocationKind::MySql:
            if (mysql_makers().store) return mysql_makers().store();
            break;
        case LocationKind::Witsml:
        case LocationKind::Osdu:
            break;
    }
    return nullptr;
}

std::unique_ptr<CLogCollection> CreateLogCollection(const char* location) {
    switch (GetLocationKind(location)) {
        case LocationKind::File:
            return std::make_unique<CLogFileCollection>();
        case LocationKind::Ado:
            return std::make_unique<CLogDbCollection>();
        case LocationKind::MySql:
            if (mysql_makers().collection) return mysql_makers().collection();
            break;
        case LocationKind::Witsml:
        case LocationKind::Osdu:
            break;
    }
    return nullptr;
}

const char* GetLatestRunLocation(const char* location) { return GetLatestRunLocation(location, CreateLogCollection); }

const char* GetLatestRunLocation(const char* location, const CollectionMaker& make) {
    thread_local std::array<char, kLatestRunLocationSize> result{};
    result[0] = '\0';
    if (location == nullptr || std::strlen(location) >= kLatestRunLocationSize) return result.data();
    std::string rest(location);
    std::int32_t sequence = 0;
    if (GetLoggerSeqFromLocation(rest, sequence) == 1) {
        std::memcpy(result.data(), location, std::strlen(location) + 1);
        return result.data();
    }
    char logger[kLoggerNameSize];
    std::size_t size = sizeof logger;
    if (GetLoggerNameFromLocation(rest, &size, logger) != 1) return result.data();

    const std::unique_ptr<CLogCollection> collection = make(rest.c_str());
    if (!collection || collection->Open(rest.c_str(), "", logger, "", kGenericRead) != 0) return result.data();
    char run[kRunNameSize] = {};
    std::size_t run_size = sizeof run;
    TimeStamp start{}, stop{};
    if (collection->GetLatestRun(run, &run_size, &start, &stop, true) != 1) return result.data();
    run[kRunNameSize - 1] = '\0';
    const int length = std::snprintf(result.data(), result.size(), "%s;LoggerName=%s;%s", rest.c_str(), logger, run);
    // A location that would not fit is no location: never hand out a cut one.
    if (length < 0 || static_cast<std::size_t>(length) >= result.size()) result[0] = '\0';
    return result.data();
}

}  // namespace log_stores
