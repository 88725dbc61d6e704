#pragma once
// One logged run in the tables of a MySQL server: its row in LOGGERS, <prefix>CHANNELS and
// <prefix>DATA. Records are read through pages ordered by (DT, MS) with a stable order inside
// equal times, so sequential and random reads cost one query per page and never repeat or
// skip a record.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/db_access/com_error_report.h"
#include "log_stores/db_schema/append_ledger.h"
#include "log_stores/db_schema/data_columns.h"
#include "log_stores/db_schema/row_count.h"
#include "log_stores/log_store.h"
#include "log_stores/mysql/data_writer.h"
#include "log_stores/mysql/mysql_record.h"
#include "log_stores/mysql/mysql_session.h"

namespace log_stores {

inline constexpr std::size_t kMaxMySqlLocation = 1424;

class CLogDbMySQLStore : public CLogStore {
  public:
    CLogDbMySQLStore();
    ~CLogDbMySQLStore() override;

    int Open(const char* server, const char* location, std::uint32_t access) override;
    int OpenForLogging(LogHeader& header) override;
    void GetLocation(char* text, std::size_t* size) override;
    int Close() override;
    int ReadHeader(LogHeader& header) override;
    int WriteHeader(const LogHeader& header, bool completed) override;
    int ReadChannelConfig(const LogHeader& header, qvr::ChannelRecord* out, std::size_t block,
                          std::size_t first, std::size_t count) override;
    int WriteLogs(const LogHeader& header, const std::uint8_t* records, std::int32_t count) override;
    int ReadLogs(std::int32_t first, const LogHeader& header, std::uint8_t* out, std::int32_t count,
                 std::int32_t extraSlots, const char* columnPrefix, std::int32_t further) override;
    int ReadLog(std::int32_t index, const LogHeader& header, std::uint8_t* out, std::int32_t bytes,
                std::int32_t flag, std::int32_t extraSlots, const char* columnPrefix, std::int32_t limit,
                bool descending) override;
    int ReadLogsByTime(const TimeStamp* from, const TimeStamp* to, const LogHeader& header, std::uint8_t* out,
                       std::int32_t recordBytes, std::int32_t count, std::int32_t extraSlots,
                       const char* columnPrefix, bool descending, bool columnsOnly) override;
    int GetNoLogs(const LogHeader& header) override;
    int GetNoLogsInRange(const TimeStamp& from, const TimeStamp& to, const LogHeader& header) override;
    // The run's texts by the database store's rules: event lines in TX and positions in TP of
    // the DATA row of their second, the header text in sHeader, predefined lines in TEXT.
    int ReadSection(const char* section, char* out, std::size_t* size, std::int32_t further1,
                    std::int32_t further2) override;
    int ReadSectionLinesW(const char* section, const char16_t** lines, std::size_t* count, char16_t* buffer,
                          std::size_t* size, std::int32_t further1, std::int32_t further2) override;
    int ReadSectionLines(const char* section, const char** lines, std::size_t* count, char* buffer,
                         std::size_t* size, std::int32_t further1, std::int32_t further2) override;
    int AddTextW(std::int32_t seconds, const char16_t* text, const char16_t* match,
                 const char* section) override;
    int AddText(std::int32_t seconds, const char* text, const char* match, const char* section) override;
    int AddTextPreciseW(const TimeStamp& time, const char16_t* text, const char16_t* match,
                        const char* section) override;
    int AddTextPrecise(const TimeStamp& time, const char* text, const char* match,
                       const char* section) override;
    int AddPosition(std::int32_t seconds, bool hasValue, float value) override;
    int WriteHeaderTextW(const char16_t* text) override;
    int WriteHeaderText(const char* text) override;
    int GetTextTime(std::int32_t& seconds) override;
    int WriteFormulae(const char*, std::int32_t, const char*) override { return -1; }
    int WriteUnitCategory(const char*, const char*) override { return -1; }
    const char* GetErrorText() override { return errorText_; }
    const char* GetErrorContext() override { return errorContext_; }

    // Rows per page of the record reader (1,000 unless a test sets fewer).
    void set_page_rows(int rows) { pageRows_ = rows > 0 ? rows : 1; }
    // Rows per INSERT statement for a run of `columns` columns: at most 1,000 and within the
    // server's 65,535 placeholders.
    static std::size_t batch_rows(std::size_t columns);
    // The DATA columns of a run: DT, MS, TX, LL and LV with significant change, the channels, TP.
    static std::size_t columns_of(const LogHeader& header);
    const std::string& table_prefix() const { return tablePrefix_; }

    // Makes a new run's rows ready on its own connection: CHANNELS from the configurations the
    // columns were named from, the LOGGERS row and the TEXT rows of the header text. 0, or -1
    // with the texts set (rows written so far stay for the caller to remove).
    int PrepareRun(const std::string& connection, const std::string& loggerName, std::int32_t sequence,
                   const std::string& tablePrefix, const LogHeader& header, const char* headerText,
                   const db_schema::ColumnList& columns, const db_schema::ChannelLookup& lookup);

    // Statements the record reader has sent since the store was made (for the tests).
    std::uint64_t record_queries() const { return recordQueries_; }

  private:
    using Key = mysql::RowKey;
    struct Pages {
        std::string columns;  // the select list the pages were read with
        std::size_t extra = 0;
        bool descending = false;
        bool valid = false;
        std::int32_t first = 0;
        std::vector<mysql::Row> rows;
        bool complete = false;
        // Where each page read began: its first index and the key before it.
        std::map<std::int32_t, std::optional<Key>> starts;
    };
    int open_here(const char* location, std::uint32_t access);
    // Records per INSERT: batch_rows, and within the server's largest packet.
    std::size_t rows_per_insert(const LogHeader& header);
    // The rows of DATA at that time; nothing on failure (texts set).
    std::optional<std::int64_t> rows_at(const db_schema::TimeKey& key);
    // The latest time of DATA and its rows (nothing inside: no rows); nothing on failure.
    std::optional<std::optional<db_schema::Tail>> read_tail();
    // Takes the run's writer lock for this session; false with the texts set.
    bool claim_writer();
    // The oldest or the latest time of DATA (nothing inside: no rows); nothing on failure.
    std::optional<std::optional<db_schema::TimeKey>> end_key(bool latest);
    // A connection with the location's keys: the process's shared one, or one of its own.
    int connect(bool shared);
    int stamp_text_time();
    std::string data_table() const;
    // The select list of a read: the caller's column prefix text before the DATA columns.
    std::string select_list(const char* columnPrefix, std::string_view rest) const;
    // " WHERE " and the exclusive time bounds with their values appended to `params`; empty
    // without bounds.
    static std::string range_condition(const TimeStamp* lower, const TimeStamp* upper,
                                       std::vector<mysql::Value>& params);
    bool read_page(const std::optional<Key>& after, std::vector<mysql::Row>& page, bool& complete);
    // The row at `index` of a read with these columns, reading pages as needed; null past the
    // end or on failure (context set).
    const mysql::Row* row_at(std::int32_t index, const std::string& columns, std::size_t extra,
                             bool descending, bool& failed);
    // The state texts of the run's digital channels, read from CHANNELS at the first text met.
    const mysql::StateTexts* state_texts(std::size_t block, std::uint16_t channel);
    void fail(std::string_view context, std::string_view text = {});
    void fail(const mysql::Failure& failure) { fail(failure.context, failure.text); }

    mysql::Session session_;
    mysql::DataWriter writer_;  // its statements belong to session_
    // What the store has stored, so that a lost connection never stores a record twice.
    db_schema::AppendLedger ledger_;
    // The run's writer lock (writer_lock.h): taken by this session, and the server's id of the
    // session that last took it.
    bool writerLock_ = false;
    std::optional<std::int64_t> writerSession_;
    // The rows of DATA as last counted.
    db_schema::RowCount rowCount_;
    std::string connection_;
    std::string loggerName_;
    std::int32_t sequence_ = 0;
    std::string tablePrefix_;  // Windows-1252, as stored
    std::uint32_t access_ = 0;
    bool logging_ = false;
    bool digitalText_ = false;
    std::int32_t lastIndex_ = -1;
    int pageRows_ = 1000;
    Pages pages_;
    std::uint64_t recordQueries_ = 0;
    bool timeIndex_ = true;  // DATA has its (DT, MS) index TM
    std::optional<std::map<std::pair<std::size_t, std::uint16_t>, mysql::StateTexts>> stateTexts_;
    bool stateTextsFailed_ = false;
    // Where the state texts of digital channels come from while logging.
    db_schema::ChannelLookup lookup_;
    char errorText_[kErrorTextSize] = {};
    char errorContext_[31] = {};
};

}  // namespace log_stores
