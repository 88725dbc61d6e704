#pragma once
// All runs of one logger kept in a database reached by a connection string: the LOGGERS table
// lists them, each run owns its <prefix>CHANNELS, <prefix>DATA and (with a header text)
// <prefix>TEXT tables. Without a connection string the runs go to a SQLite file in the
// logger's folder. Names are 8-bit (Windows-1252) texts; they reach SQL quoted and escaped.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/db_access/com_error_report.h"
#include "log_stores/db_replication/replication_state.h"
#include "log_stores/db_schema/data_columns.h"
#include "log_stores/log_collection.h"
#include "log_stores/db_access/log_db_acc.h"
#include "log_stores/db_access/log_db_data_acc.h"
#include "platform/ado/dialect.h"

namespace log_stores {

class CLogDbStore;

inline constexpr std::size_t kMaxConnectionString = 1024;
inline constexpr std::size_t kMaxDbLoggerName = 259;
// "LoggerSeq=%08d" and its NUL.
inline constexpr std::size_t kDbRunNameSize = 20;

class CLogDbCollection : public CLogCollection {
  public:
    CLogDbCollection();
    ~CLogDbCollection() override;

    // 0, or -1 with the error context (and text) set; see db_collection_open.cc.
    int Open(const char* connection, const char* folder, const char* loggerName, const char* prefix,
             std::uint32_t access) override;
    void DeleteRunsBefore(std::int32_t seconds) override;
    int BeginRunList(std::size_t* nameSize) override;
    int GetNextRun(char* name, TimeStamp* start, TimeStamp* stop) override;
    int GetLatestRun(char* name, std::size_t* nameSize, TimeStamp* start, TimeStamp* stop,
                     bool anyPrefix) override;
    std::unique_ptr<CLogStore> NewRunW(std::int32_t* start, bool plainPrefix, std::intptr_t unused, LogHeader& header,
                                       const char16_t* headerText, bool archiveConfig, const char* server,
                                       bool datePrefix, const qvr::ChannelRecord* const* channels) override;
    std::unique_ptr<CLogStore> NewRun(std::int32_t* start, bool plainPrefix, std::intptr_t unused, LogHeader& header,
                                      const char* headerText, bool archiveConfig, const char* server,
                                      bool datePrefix, const qvr::ChannelRecord* const* channels) override;
    std::unique_ptr<CLogStore> OpenStore(const char* runName, std::uint32_t access) override;
    int UseforLogging(CLogStore& store, LogHeader& header, const char* prefix, bool needText,
                      bool needArchive) override;
    int FinishRun(CLogStore& store, const TimeStamp* start, const TimeStamp* stop, bool readOnly) override;
    const char* GetErrorText() override { return errorText_; }
    const char* GetErrorContext() override { return errorContext_; }
    void GetStoreLocation(const char* runName, char* location, std::size_t* size) override;

    // Drops the run's tables and, once its DATA and CHANNELS tables are gone, its LOGGERS row.
    // 0 when the row went, -1 when the run is kept.
    int DropRun(std::string_view tablePrefix);

    // Merge replication of every new run (and of LOGGERS) to a second SQL Server database; see
    // db_replication/. 0, also when this database is no SQL Server (replication stays off);
    // -1 with last error 0 and the error context set when a check fails.
    int SetReplicationTarget(const char* target, bool prune, int keepCount);
    // Success or failure is left in the incomplete flag and the error texts.
    void SetUpReplication(std::string_view publication, bool hasText, bool loggersTable);
    void UndoReplication(std::string_view publication);
    int IsReplicationIncomplete() const { return replication_.incomplete ? 1 : 0; }
    bool IsReplicationOn() const { return replication_.on; }
    // The snapshot poll's pause (a sleep unless replaced).
    void SetReplicationWait(db_replication::Wait wait) { replication_.wait = std::move(wait); }

    const std::string& connection_string() const { return connection_; }
    bool made_loggers_table() const { return loggersMade_; }

  private:
    struct RunEntry {
        std::int32_t sequence = 0;
        TimeStamp start{};
        TimeStamp stop{};
        std::string prefix;
    };
    struct MadeTables {
        std::string prefix;
        bool channels = false;
        bool data = false;
        bool text = false;
    };

    int open_default_database(const char* folder, const char* loggerName);
    int open_loggers_table();
    bool list_runs();

    // Sends a statement on the schema accessor (UTF-8 text).
    bool execute(const std::string& statement);
    // The schema steps of a new run: sequence, prefix and tables. Nothing on failure, with the
    // context set and every table it made dropped.
    struct NewTables {
        std::int32_t sequence = 0;
        MadeTables made;
        // Where the run's channel configurations came from; the store writes CHANNELS from it.
        db_schema::ChannelLookup lookup;
    };
    std::optional<NewTables> make_run_tables(std::int32_t start, bool plainPrefix, const LogHeader& header,
                                             bool withText, const char* server, bool datePrefix,
                                             const qvr::ChannelRecord* const* channels);
    void drop_made(const MadeTables& made);
    // A failed run leaves nothing: its tables and whatever row the store wrote for it.
    void undo_run(const MadeTables& made, std::int32_t sequence);
    bool drop_table(const std::string& prefix, std::string_view suffix, bool& gone);

    // The steps of a set-up; false ends it with the context set.
    bool prune_publications(std::string_view publication);
    bool add_publication(const std::string& publication);
    bool start_snapshot(const std::string& publication, std::string& jobId);
    bool wait_for_snapshot(const std::string& jobId);
    bool subscribe(const std::string& publication);
    // Reads one column of the first row of a query; nothing when it fails or is absent.
    std::optional<ado::Variant> query_value(const std::string& query, const char* context,
                                            std::initializer_list<const char16_t*> columns,
                                            const char* missingContext);

    void fail(const char* context, std::string_view text = {});
    std::string utf8(std::string_view cp1252) const;

    std::string connection_;
    std::string loggerName_;
    std::string runPrefix_;
    std::uint32_t access_ = 0;
    ado::Dialect dialect_;
    CLogDbAcc schema_;
    CLogDbDataAcc data_;
    bool createIndexes_ = true;
    bool loggersMade_ = false;
    bool open_ = false;
    std::vector<RunEntry> runs_;
    std::size_t nextRun_ = 0;
    db_replication::ReplicationState replication_;
    char errorText_[kErrorTextSize] = {};
    char errorContext_[31] = {};
};

// The store location of the latest run of the logger named in an ADO location
// ("<connection>;LoggerName=<name>"), the location itself when it already names a run, or
// the empty text. The result stays valid until the thread's next call.
const char* GetLatestDbRunLocation(const char* location);

}  // namespace log_stores
