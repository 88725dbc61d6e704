// Making, opening, finishing, dropping and purging the runs of a database collection.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "log_stores/db_collection/db_collection.h"
#include "log_stores/db_collection/run_channels.h"
#include "log_stores/db_schema/data_columns.h"
#include "log_stores/db_schema/run_naming.h"
#include "log_stores/db_schema/schema_tables.h"
#include "log_stores/db_schema/sql_text.h"
#include "log_stores/db_store/db_store.h"
#include "log_stores/log_location.h"
#include "log_stores/run_file/run_file_format.h"
#include "platform/ado/hresult.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"
#include "qvr/link/link.h"
#include "qvr/settings/reg.h"

namespace log_stores {
namespace {

std::optional<std::string> registry_text(const char* name) {
    char value[64] = {};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof value - 1;
    if (reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeyQueryValue, name, &type,
                               value, &size) != 0 ||
        type != kRegSz)
        return std::nullopt;
    return std::string(value, strnlen(value, sizeof value - 1));
}

}  // namespace

bool CLogDbCollection::drop_table(const std::string& prefix, std::string_view suffix, bool& gone) {
    platform::set_last_error(0);
    gone = execute("DROP TABLE " + db_schema::run_table(dialect_, prefix, suffix)) ||
           // A table that is not there is as good as dropped: a run made without header text
           // has no TEXT table, and its row must not stay behind for ever.
           platform::last_error() == last_error_of(ado::kNoSuchTable);
    return gone;
}

void CLogDbCollection::drop_made(const MadeTables& made) {
    // TEXT, DATA, CHANNELS, each drop's failure ignored.
    const auto drops = db_schema::drop_tables(dialect_, made.prefix);
    if (made.text) execute(drops[0]);
    if (made.data) execute(drops[1]);
    if (made.channels) execute(drops[2]);
}

void CLogDbCollection::undo_run(const MadeTables& made, std::int32_t sequence) {
    drop_made(made);
    // The store writes its row field by field, so a failure can leave it before its prefix
    // (even before its sequence) is in: a row of this logger without a prefix names no tables
    // and goes too.
    const std::string logger = db_schema::text_literal(dialect_, utf8(loggerName_));
    execute("DELETE from LOGGERS where sLoggerName = " + logger + " AND (sTablePrefix = " +
            db_schema::text_literal(dialect_, made.prefix) + " OR (sTablePrefix IS NULL AND (nLoggerSequence = " +
            std::to_string(sequence) + " OR nLoggerSequence IS NULL)))");
}

std::optional<CLogDbCollection::NewTables> CLogDbCollection::make_run_tables(
    std::int32_t start, bool plainPrefix, const LogHeader& header,
    bool withText, const char* server, bool datePrefix,
    const qvr::ChannelRecord* const* channels) {
    const bool digital_text = db_schema::digital_text_selected(registry_text("DatabaseDigitalText"));

    if (data_.OpenRecordset(ado::utf16_from_utf8(db_schema::highest_counter_query(dialect_, utf8(loggerName_))),
                            ado::kStatic, ado::kReadOnly, ado::kCmdUnknown) != 0) {
        fail("CAN'T FIND LOGGER", data_.GetLastErrorText());
        return std::nullopt;
    }
    std::optional<std::int64_t> highest;
    ado::Variant eof;
    if (data_.IsEOF(&eof) == 0 && eof.to_bool() == 0) {
        ado::Variant value;
        if (data_.GetFieldValueByIndex(0, &value) == 0 && !value.is_null()) highest = value.to_i8();
    }
    data_.CloseRecordset();

    const std::string logger = utf8(loggerName_);
    const std::string run_prefix = utf8(runPrefix_);
    const db_schema::RunNaming naming{logger, run_prefix, plainPrefix, datePrefix, start,
                                      db_schema::next_counter(highest)};
    const auto taken = db_schema::first_accepted(db_schema::prefix_tries(naming), [&](const db_schema::PrefixTry& t) {
        return execute(db_schema::channels_create(dialect_, t.prefix));
    });
    if (!taken) {
        fail("CAN'T CREATE CHANNELS TABLE", schema_.ErrorText());
        return std::nullopt;
    }
    NewTables made{taken->sequence, {taken->prefix, true, false, false}, {}};
    if (createIndexes_ && !execute(db_schema::channels_index(dialect_, taken->prefix))) createIndexes_ = false;

    std::optional<db_schema::ChannelLookup> lookup;
    if (channels != nullptr) {
        lookup = db_collection::lookup_in_table(header, channels);
    } else if (link_IsLocalServer(server) == 1) {
        lookup = db_collection::lookup_in_modules(header);
        if (!lookup) {
            fail("CAN'T FIND CHANNELS");
            drop_made(made.made);
            return std::nullopt;
        }
    } else if (header.tagColumns == 0) {
        lookup = db_collection::zero_lookup();
    } else {
        lookup = db_collection::lookup_from_server(server, header);
        if (!lookup) {
            fail("CAN'T CREATE DATA TABLE", "the server's channel configurations could not be fetched");
            drop_made(made.made);
            return std::nullopt;
        }
    }
    made.lookup = std::move(*lookup);
    const auto columns = db_schema::build_column_list(dialect_, header, made.lookup, digital_text);
    if (!columns.list) {
        fail(columns.context.c_str());
        drop_made(made.made);
        return std::nullopt;
    }
    for (const auto& form : db_schema::data_create_forms(dialect_, db_schema::Backend::ado, taken->prefix,
                                                         header.sigChange != 0, columns.list->definition)) {
        if (execute(form)) {
            made.made.data = true;
            break;
        }
    }
    if (!made.made.data) {
        fail("CAN'T CREATE DATA TABLE", schema_.ErrorText());
        drop_made(made.made);
        return std::nullopt;
    }
    if (createIndexes_) {
        bool all = true;
        for (const auto& index : db_schema::data_indexes(dialect_, db_schema::Backend::ado, taken->prefix))
            all = execute(index) && all;
        createIndexes_ = all;
    }
    if (withText) {
        if (!execute(db_schema::text_create(dialect_, taken->prefix))) {
            fail("CAN'T CREATE TEXT TABLE", schema_.ErrorText());
            drop_made(made.made);
            return std::nullopt;
        }
        made.made.text = true;
    }
    return made;
}

std::unique_ptr<CLogStore> CLogDbCollection::NewRun(std::int32_t* start, bool plainPrefix, std::intptr_t,
                                                    LogHeader& header, const char* headerText, bool,
                                                    const char* server, bool datePrefix,
                                                    const qvr::ChannelRecord* const* channels) {
    if (!open_) {
        fail("CAN'T OPEN DATABASE");
        return nullptr;
    }
    const auto tables = make_run_tables(start == nullptr ? header.start.seconds : *start, plainPrefix, header,
                                        headerText != nullptr, server, datePrefix, channels);
    if (!tables) return nullptr;

    auto store = std::make_unique<CLogDbStore>();
    const std::string prefix = ado::cp1252_from_utf8(tables->made.prefix);
    if (store->CreateRun(connection_.c_str(), prefix.c_str(), loggerName_.c_str(), tables->sequence, header,
                         headerText, server, &tables->lookup) != 0) {
        fail("CAN'T CONNECT TO DATABASE", store->GetErrorText());
        store.reset();
        undo_run(tables->made, tables->sequence);
        return nullptr;
    }
    // A run whose replication fails still logs; the error texts and the incomplete flag tell.
    if (replication_.on) SetUpReplication(prefix, headerText != nullptr, false);
    return store;
}

std::unique_ptr<CLogStore> CLogDbCollection::NewRunW(std::int32_t* start, bool plainPrefix, std::intptr_t unused,
                                                     LogHeader& header, const char16_t* headerText,
                                                     bool archiveConfig, const char* server, bool datePrefix,
                                                     const qvr::ChannelRecord* const* channels) {
    if (headerText == nullptr)
        return NewRun(start, plainPrefix, unused, header, nullptr, archiveConfig, server, datePrefix, channels);
    const std::string text = ado::cp1252_from_utf16(headerText);
    return NewRun(start, plainPrefix, unused, header, text.c_str(), archiveConfig, server, datePrefix, channels);
}

void CLogDbCollection::GetStoreLocation(const char* runName, char* location, std::size_t* size) {
    const std::string text = connection_ + ";LoggerName=" + loggerName_ + ";" + (runName == nullptr ? "" : runName);
    // The three lengths plus 14; copied only into a buffer the size says can hold it.
    copy_with_size(text, location, size);
}

std::unique_ptr<CLogStore> CLogDbCollection::OpenStore(const char* runName, std::uint32_t access) {
    const std::string location = connection_ + ";LoggerName=" + loggerName_ + ";" + (runName == nullptr ? "" : runName);
    auto store = std::make_unique<CLogDbStore>();
    if (store->Open(nullptr, location.c_str(), access) != 0) {
        fail(store->GetErrorContext(), store->GetErrorText());
        return nullptr;
    }
    return store;
}

int CLogDbCollection::UseforLogging(CLogStore& store, LogHeader& header, const char*, bool, bool) {
    return store.OpenForLogging(header);
}

int CLogDbCollection::FinishRun(CLogStore& store, const TimeStamp* start, const TimeStamp*, bool) {
    char prefix[kDbNameCapacity] = {};
    auto* db_store = dynamic_cast<CLogDbStore*>(&store);
    if (db_store != nullptr) db_store->GetTablePrefix(prefix, sizeof prefix);
    store.Close();
    if (start == nullptr && db_store != nullptr && prefix[0] != '\0') DropRun(prefix);
    return 0;
}

int CLogDbCollection::DropRun(std::string_view tablePrefix) {
    if (replication_.on) UndoReplication(tablePrefix);
    const std::string prefix = utf8(tablePrefix);
    bool text_gone = false;
    bool data_gone = false;
    bool channels_gone = false;
    drop_table(prefix, "TEXT", text_gone);
    drop_table(prefix, "DATA", data_gone);
    drop_table(prefix, "CHANNELS", channels_gone);
    if (!text_gone || !data_gone || !channels_gone) return -1;
    return execute(db_schema::delete_run_row(dialect_, prefix)) ? 0 : -1;
}

void CLogDbCollection::DeleteRunsBefore(std::int32_t seconds) {
    if (!list_runs()) return;
    const std::vector<RunEntry> runs = std::move(runs_);
    runs_.clear();
    for (const RunEntry& run : runs) {
        const std::int32_t start = run.start.seconds;
        const std::int32_t stop = run.stop.seconds;
        if (stop == 0 || start > seconds) continue;  // still logging, or wholly after the time
        if (stop < seconds) {
            DropRun(ado::cp1252_from_utf8(run.prefix));
            continue;
        }
        char name[kDbRunNameSize];
        std::snprintf(name, sizeof name, "LoggerSeq=%08d", run.sequence);
        auto store = OpenStore(name, kGenericRead | kGenericWrite);
        if (!store) continue;
        const TimeStamp upper{seconds, 0, 0};
        if (auto* db_store = dynamic_cast<CLogDbStore*>(store.get())) db_store->DeleteLogsBetween(nullptr, &upper);
        LogHeader header{};
        if (store->ReadHeader(header) != 0 || header.formatTag != 0x8001 || header.dataStart == 0 ||
            header.recordSize == 0) {
            store->Close();
            continue;
        }
        if (store->GetNoLogs(header) > 0) {
            std::uint8_t head[16] = {};
            if (store->ReadLog(0, header, head, sizeof head, 0, 0, nullptr, 1, false) == 0) {
                header.start = run_file::decode_record_head(head).time;
                store->WriteHeader(header, true);
                FinishRun(*store, &header.start, &header.stop, false);
            } else {
                store->Close();
            }
        } else {
            store->Close();
            DropRun(ado::cp1252_from_utf8(run.prefix));
        }
    }
}

}  // namespace log_stores
