// Listing the runs of a database collection, and the latest run of a logger by location.
#include "log_stores/db_collection/db_collection.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "log_stores/db_schema/date_literal.h"
#include "log_stores/db_schema/run_naming.h"
#include "log_stores/db_schema/schema_tables.h"
#include "log_stores/db_schema/sql_text.h"
#include "log_stores/log_location.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"

namespace log_stores {
namespace {

// The seconds of a date column; 0 when it holds no date the stamps can count.
std::int32_t seconds_of(const ado::Variant& value) {
    if (value.is_null() || value.is_empty()) return 0;
    try {
        return db_schema::seconds_of_date(value.to_date()).value_or(0);
    } catch (...) {
        return 0;
    }
}

std::string run_name(std::int32_t sequence) {
    char name[kDbRunNameSize];
    std::snprintf(name, sizeof name, "LoggerSeq=%08d", sequence);
    return name;
}

}  // namespace

CLogDbCollection::CLogDbCollection() = default;
CLogDbCollection::~CLogDbCollection() = default;

bool CLogDbCollection::list_runs() {
    runs_.clear();
    nextRun_ = 0;
    if (!open_) return false;
    if (data_.OpenRecordset(ado::utf16_from_utf8(db_schema::run_list_query(dialect_, utf8(loggerName_))),
                            ado::kStatic, ado::kReadOnly, ado::kCmdUnknown) != 0) {
        fail("CAN'T LIST RUNS", data_.GetLastErrorText());
        return false;
    }
    // Walked row by row: a recordset that cannot report its count lists as well as one that can.
    for (;;) {
        ado::Variant eof;
        if (data_.IsEOF(&eof) != 0 || eof.to_bool() != 0) break;
        ado::Variant fields[5];
        bool read = true;
        for (int i = 0; i < 5; ++i) read = data_.GetFieldValueByIndex(i, &fields[i]) == 0 && read;
        if (read) {
            RunEntry run;
            try {
                run.sequence = fields[0].is_null() ? 0 : fields[0].to_i4();
                const bool completed = !fields[3].is_null() && fields[3].to_i4() != 0;
                run.start = {seconds_of(fields[1]), 0, 0};
                run.stop = {completed ? seconds_of(fields[2]) : 0, 0, 0};
                if (!fields[4].is_null())
                    run.prefix = db_schema::cut_to_characters(
                        db_schema::stored_prefix(ado::utf8_from_utf16(fields[4].to_text())), 255);
                runs_.push_back(std::move(run));
            } catch (...) {
                // A row this system cannot read is no run of it.
            }
        }
        if (data_.MoveNext() != 0) break;
    }
    data_.CloseRecordset();
    return !runs_.empty();
}

int CLogDbCollection::BeginRunList(std::size_t* nameSize) {
    if (nameSize != nullptr) *nameSize = kDbRunNameSize;
    return list_runs() ? 1 : 0;
}

int CLogDbCollection::GetNextRun(char* name, TimeStamp* start, TimeStamp* stop) {
    if (nextRun_ >= runs_.size()) {
        runs_.clear();
        nextRun_ = 0;
        platform::set_last_error(0);
        return 0;
    }
    const RunEntry& run = runs_[nextRun_++];
    if (name != nullptr) std::snprintf(name, kDbRunNameSize, "%s", run_name(run.sequence).c_str());
    if (start != nullptr) *start = run.start;
    if (stop != nullptr) *stop = run.stop;
    return 1;
}

int CLogDbCollection::GetLatestRun(char* name, std::size_t* nameSize, TimeStamp* start, TimeStamp* stop,
                                   bool anyPrefix) {
    const bool listed = list_runs();
    const std::vector<RunEntry> runs = std::move(runs_);
    runs_.clear();
    if (!listed) return 0;
    const std::string collection_prefix = utf8(runPrefix_);
    for (const RunEntry& run : runs) {
        if (!anyPrefix && !db_schema::prefix_belongs(run.prefix, collection_prefix)) continue;
        copy_with_size(run_name(run.sequence), name, nameSize);
        if (start != nullptr) *start = run.start;
        if (stop != nullptr) *stop = run.stop;
        return 1;
    }
    return 0;
}

const char* GetLatestDbRunLocation(const char* location) {
    constexpr std::size_t kResultSize = 1285;
    thread_local char result[kResultSize];
    result[0] = '\0';
    if (location == nullptr || std::strlen(location) > kResultSize - 1) return result;
    std::string rest = location;
    std::int32_t sequence = 0;
    std::string probe = rest;
    if (GetLoggerSeqFromLocation(probe, sequence) == 1) {
        std::snprintf(result, kResultSize, "%s", location);
        return result;
    }
    char logger[260] = {};
    std::size_t size = sizeof logger;
    if (GetLoggerNameFromLocation(rest, &size, logger) != 1 || logger[0] == '\0') return result;

    CLogDbCollection collection;
    if (collection.Open(rest.c_str(), "", logger, "", kGenericRead) != 0) return result;
    char run[kDbRunNameSize] = {};
    std::size_t run_size = sizeof run;
    TimeStamp start{};
    TimeStamp stop{};
    if (collection.GetLatestRun(run, &run_size, &start, &stop, true) != 1) return result;
    const std::string text = rest + ";LoggerName=" + logger + ";" + run;
    if (text.size() < kResultSize) std::snprintf(result, kResultSize, "%s", text.c_str());
    return result;
}

}  // namespace log_stores
