// Merge replication of a database collection's runs to a second SQL Server database: the
// collection's own database publishes each run's tables (and LOGGERS), the target takes a push
// subscription. Changes go through the schema accessor, queries through the data accessor.
#include <string>
#include <thread>
#include <vector>

#include "log_stores/db_collection/db_collection.h"
#include "log_stores/db_replication/connection_key.h"
#include "log_stores/db_replication/replication_statements.h"
#include "log_stores/db_schema/sql_text.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "platform/ascii_text.h"
#include "platform/host_identity.h"
#include "platform/last_error.h"
#include "qvr/diag/trace.h"

namespace log_stores {
namespace {

namespace rs = db_replication;

constexpr std::size_t kMaxPublicationName = 99;
// The run counter and its '_' that end a run's prefix; what is before them is the logger's.
constexpr std::size_t kRunCounterLength = 9;
constexpr int kJobNotFinished = 5;

// Drivers put their own tags ("[driver][server]") before the server's message.
std::string_view server_message(std::string_view text) {
    while (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) break;
        text.remove_prefix(close + 1);
    }
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return text;
}

std::optional<std::string> job_id_of(const ado::Variant& value) {
    if (value.is_null() || value.is_empty()) return std::nullopt;
    try {
        if (value.type() == ado::VarType::binary) {
            const auto& bytes = value.bytes();
            if (bytes.empty()) return std::nullopt;
            return rs::job_id_text(bytes);
        }
    } catch (...) {
    }
    return std::nullopt;
}

}  // namespace

int CLogDbCollection::SetReplicationTarget(const char* target, bool prune, int keepCount) {
    const std::string_view text = target == nullptr ? std::string_view() : std::string_view(target);
    if (text.size() > rs::kMaxTargetConnection) {
        fail("CONNECTION STRING TOO LONG");
        return platform::fail(0);
    }
    replication_.target.assign(text);
    if (!platform::starts_with_ignoring_case(connection_, "PROVIDER=SQLOLEDB")) return 0;

    struct Piece {
        const std::string& from;
        const char* key;
        std::string& into;
        const char* missing;
    };
    rs::ReplicationState& r = replication_;
    const Piece pieces[] = {
        {r.target, "INITIAL CATALOG=", r.targetCatalog, "NO INITIAL CATALOG DEFINED IN TARGET CONNECTION STRING"},
        {r.target, ";DATA SOURCE=", r.targetSource, "NO DATA SOURCE DEFINED IN TARGET CONNECTION STRING"},
        {connection_, "INITIAL CATALOG=", r.ownCatalog, "NO INITIAL CATALOG DEFINED IN DATABASE CONNECTION STRING"},
        {connection_, ";DATA SOURCE=", r.ownSource, "NO DATA SOURCE DEFINED IN DATABASE CONNECTION STRING"},
    };
    for (const Piece& piece : pieces) {
        const auto value = rs::connection_key_value(piece.from, piece.key);
        if (!value) {
            fail(piece.missing);
            return platform::fail(0);
        }
        piece.into = *value;
    }
    const bool same_server = platform::equal_ignoring_case(r.targetSource, r.ownSource) ||
                             (rs::names_local_machine(r.targetSource) && rs::names_local_machine(r.ownSource));
    if (same_server && platform::equal_ignoring_case(r.targetCatalog, r.ownCatalog)) {
        fail("DATABASE AND TARGET CONNECTION STRINGS ARE THE SAME", "DATABASE AND TARGET ARE SAME");
        return platform::fail(0);
    }
    r.prune = prune;
    r.keepCount = keepCount;
    r.on = true;
    if (loggersMade_) SetUpReplication(loggerName_, false, true);
    return 0;
}

void CLogDbCollection::SetUpReplication(std::string_view publication, bool hasText, bool loggersTable) {
    replication_.incomplete = true;
    UndoReplication(publication);
    const std::string p = utf8(publication);
    if (!loggersTable && replication_.prune) prune_publications(p);
    if (!add_publication(p)) return;
    if (!execute(rs::add_publication_snapshot(p))) {
        fail("CAN'T ADD PUBLICATION SNAPSHOT", schema_.ErrorText());
        return;
    }
    std::vector<std::pair<std::string, std::string>> articles;  // word, source table
    if (loggersTable) {
        articles.emplace_back("DATA", "LOGGERS");
    } else {
        articles.emplace_back("DATA", p + "DATA");
        articles.emplace_back("CHANNELS", p + "CHANNELS");
        if (hasText) articles.emplace_back("TEXT", p + "TEXT");
    }
    for (const auto& [word, table] : articles) {
        if (execute(rs::add_article(p, word, table))) continue;
        // The server refuses with a warning what it did all the same.
        if (platform::starts_with_ignoring_case(server_message(schema_.ErrorText()), "Warning")) continue;
        fail("CAN'T ADD PUBLICATION ARTICLE", schema_.ErrorText());
        return;
    }
    std::string job;
    if (!start_snapshot(p, job)) return;
    if (!wait_for_snapshot(job)) return;
    if (!subscribe(p)) return;
    replication_.incomplete = false;
}

bool CLogDbCollection::prune_publications(std::string_view publication) {
    if (publication.size() <= kRunCounterLength) return true;
    const std::string_view stem = publication.substr(0, publication.size() - kRunCounterLength);
    list_runs();
    std::vector<std::string> old_runs;
    const std::size_t keep = replication_.keepCount < 0 ? 0 : static_cast<std::size_t>(replication_.keepCount);
    for (std::size_t i = keep + 1; i < runs_.size(); ++i) old_runs.push_back(runs_[i].prefix);
    runs_.clear();
    nextRun_ = 0;

    std::vector<std::string> drop;
    if (data_.OpenRecordset(ado::utf16_from_utf8(rs::help_publications()), ado::kStatic, ado::kReadOnly,
                            ado::kCmdUnknown) != 0)
        return false;
    for (;;) {
        ado::Variant eof;
        if (data_.IsEOF(&eof) != 0 || eof.to_bool() != 0) break;
        ado::Variant name;
        if (data_.GetFieldValueByName(u"name", &name) == 0 && !name.is_null()) {
            try {
                const std::string text =
                    db_schema::cut_to_characters(ado::utf8_from_utf16(name.to_text()), kMaxPublicationName);
                if (text.starts_with(stem))
                    for (const std::string& run : old_runs)
                        if (text == run) drop.push_back(text);
            } catch (...) {
                // A name this system cannot read is none of its runs.
            }
        }
        if (data_.MoveNext() != 0) break;
    }
    data_.CloseRecordset();
    for (const std::string& name : drop) UndoReplication(ado::cp1252_from_utf8(name));
    return true;
}

bool CLogDbCollection::add_publication(const std::string& p) {
    const std::string logger = utf8(loggerName_);
    const std::string first = rs::add_publication(p, logger);
    const std::string second = rs::add_publication_with_options(p, logger);
    if (execute(first) || execute(second)) return true;
    // A database not yet enabled for merge publishing refuses both.
    execute(rs::enable_merge_publish(utf8(replication_.ownCatalog)));
    if (execute(first) || execute(second)) return true;
    fail("CAN'T ADD PUBLICATION", schema_.ErrorText());
    return false;
}

std::optional<ado::Variant> CLogDbCollection::query_value(const std::string& query, const char* context,
                                                          std::initializer_list<const char16_t*> columns,
                                                          const char* missingContext) {
    if (data_.OpenRecordset(ado::utf16_from_utf8(query), ado::kStatic, ado::kReadOnly, ado::kCmdUnknown) != 0) {
        fail(context, data_.GetLastErrorText());
        return std::nullopt;
    }
    std::optional<ado::Variant> found;
    ado::Variant eof;
    if (data_.IsEOF(&eof) == 0 && eof.to_bool() == 0) {
        for (const char16_t* column : columns) {
            ado::Variant value;
            if (data_.GetFieldValueByName(column, &value) == 0 && !value.is_null() && !value.is_empty()) {
                found = std::move(value);
                break;
            }
        }
    }
    data_.CloseRecordset();
    if (!found) fail(missingContext);
    return found;
}

bool CLogDbCollection::start_snapshot(const std::string& p, std::string& jobId) {
    const auto value =
        query_value(rs::help_publication(p), "CAN'T GET PUBLICATION INFO", {u"snapshot_jobid"},
                    "CAN'T GET SNAPSHOT JOB ID");
    if (!value) return false;
    const auto job = job_id_of(*value);
    if (!job) {
        fail("CAN'T GET SNAPSHOT JOB ID");
        return false;
    }
    jobId = *job;
    if (!execute(rs::start_job(jobId))) {
        fail("CAN'T START SNAPSHOT", schema_.ErrorText());
        const std::string line = std::string("CAN'T START SNAPSHOT: ") + schema_.ErrorText() + "\r\n";
        trace_Write(line.c_str());
        return false;
    }
    return true;
}

bool CLogDbCollection::wait_for_snapshot(const std::string& jobId) {
    const std::string query = rs::help_job(jobId);
    for (int answer = 0; answer < rs::kSnapshotPolls; ++answer) {
        const auto outcome =
            query_value(query, "CAN'T GET SNAPSHOT STATUS", {u"last_run_outcome"}, "CAN'T GET SNAPSHOT STATUS");
        if (!outcome) return false;
        int value = kJobNotFinished;
        try {
            value = outcome->to_i4();
        } catch (...) {
            fail("CAN'T GET SNAPSHOT STATUS");
            return false;
        }
        if (value != kJobNotFinished) return true;
        if (replication_.wait)
            replication_.wait(rs::kSnapshotWait);
        else
            std::this_thread::sleep_for(rs::kSnapshotWait);
    }
    fail("SNAPSHOT DID NOT RUN");
    return false;
}

bool CLogDbCollection::subscribe(const std::string& p) {
    if (!execute(rs::add_subscription(p, utf8(replication_.targetSource), utf8(replication_.targetCatalog)))) {
        fail("CAN'T ADD SUBSCRIPTION", schema_.ErrorText());
        return false;
    }
    const auto value = query_value(rs::help_subscription(p), "CAN'T GET SUBSCRIPTION INFO",
                                   {u"merge_jobid", u"job_id"}, "CAN'T GET SUBSCRIPTION JOB ID");
    if (!value) return false;
    const auto job = job_id_of(*value);
    if (!job) {
        fail("CAN'T GET SUBSCRIPTION JOB ID");
        return false;
    }
    // Each statement runs on a connection of its own, so the two "use" change nothing; they
    // stay for the server's log.
    execute("use master");
    execute(rs::start_job(*job));
    execute("use " + utf8(replication_.ownCatalog));
    return true;
}

void CLogDbCollection::UndoReplication(std::string_view publication) {
    const std::string p = utf8(publication);
    const rs::ReplicationState& r = replication_;
    execute(rs::drop_subscription(p, utf8(r.targetSource), utf8(r.targetCatalog)));
    execute(rs::drop_publication(p));

    CLogDbAcc target;
    if (target.OpenConnection(ado::utf16_from_cp1252(r.target), u"") == 0) {
        const std::string publisher = rs::names_local_machine(r.ownSource)
                                          ? platform::computer_name()
                                          : r.ownSource.substr(0, std::min<std::size_t>(r.ownSource.size(), 16));
        target.SetConnected();
        target.ExecuteSql(
            ado::utf16_from_utf8(rs::subscription_cleanup(p, utf8(publisher), utf8(r.ownCatalog))));
    }
    target.Release();
}

}  // namespace log_stores
