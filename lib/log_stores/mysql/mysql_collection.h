#pragma once
// All runs of one logger kept on a MySQL server: the LOGGERS table lists them, each run owns
// its <prefix>CHANNELS, <prefix>DATA and <prefix>TEXT tables. Names are 8-bit (Windows-1252)
// texts; they reach the server as UTF-8, bound as values or quoted as names.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/db_access/com_error_report.h"
#include "log_stores/log_collection.h"
#include "log_stores/mysql/mysql_session.h"

namespace log_stores {

inline constexpr std::size_t kMaxMySqlConnectionString = 1024;
inline constexpr std::size_t kMaxMySqlLoggerName = 259;

class CLogDbMySQLCollection : public CLogCollection {
  public:
    CLogDbMySQLCollection();
    ~CLogDbMySQLCollection() override;

    int Open(const char* connection, const char* folder, const char* loggerName, const char* prefix,
             std::uint32_t access) override;
    void DeleteRunsBefore(std::int32_t seconds) override;
    int BeginRunList(std::size_t* nameSize) override;
    int GetNextRun(char* name, TimeStamp* start, TimeStamp* stop) override;
    int GetLatestRun(char* name, std::size_t* nameSize, TimeStamp* start, TimeStamp* stop,
                     bool anyPrefix) override;
    std::unique_ptr<CLogStore> NewRunW(std::int32_t* start, bool plainPrefix, std::intptr_t unused,
                                       LogHeader& header, const char16_t* headerText, bool archiveConfig,
                                       const char* server, bool datePrefix,
                                       const qvr::ChannelRecord* const* channels) override;
    std::unique_ptr<CLogStore> NewRun(std::int32_t* start, bool plainPrefix, std::intptr_t unused,
                                      LogHeader& header, const char* headerText, bool archiveConfig,
                                      const char* server, bool datePrefix,
                                      const qvr::ChannelRecord* const* channels) override;
    std::unique_ptr<CLogStore> OpenStore(const char* runName, std::uint32_t access) override;
    int FinishRun(CLogStore& store, const TimeStamp* start, const TimeStamp* stop, bool readOnly) override;
    int UseforLogging(CLogStore& store, LogHeader& header, const char* prefix, bool needText,
                      bool needArchive) override;
    const char* GetErrorText() override { return errorText_; }
    const char* GetErrorContext() override { return errorContext_; }
    void GetStoreLocation(const char* runName, char* location, std::size_t* size) override;

    // Drops the run's tables and its LOGGERS row, each step sent whatever the previous gave.
    void DropRun(std::string_view tablePrefix);
    bool made_loggers_table() const { return loggersExists_; }

  private:
    struct RunEntry {
        std::int32_t sequence = 0;
        TimeStamp start{};
        TimeStamp stop{};
        std::string prefix;  // Windows-1252, as stored
    };
    bool list_runs();
    // The run's tables made and which of them exist, to drop again on failure.
    struct MadeTables {
        std::string prefix;  // UTF-8
        bool channels = false;
        bool data = false;
        bool text = false;
    };
    void undo_run(const MadeTables& made, std::int32_t sequence);
    void fail(std::string_view context, std::string_view text = {});
    void fail(const mysql::Failure& failure) { fail(failure.context, failure.text); }

    std::string connection_;
    std::string loggerName_;
    std::string runPrefix_;
    std::uint32_t access_ = 0;
    mysql::Session session_;
    bool loggersExists_ = false;
    std::vector<RunEntry> runs_;
    std::size_t nextRun_ = 0;
    bool listing_ = false;
    char errorText_[kErrorTextSize] = {};
    char errorContext_[31] = {};
};

}  // namespace log_stores
