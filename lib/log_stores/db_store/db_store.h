#pragma once
// One logged run kept in database tables: its row in LOGGERS and its <prefix>CHANNELS,
// <prefix>DATA and <prefix>TEXT tables, reached through two data access objects (one for
// queries and the LOGGERS, CHANNELS and TEXT tables, one holding DATA open for appending).
// Texts handed in and out are the system's 8-bit texts; results as CLogStore says.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "log_stores/db_schema/data_columns.h"
#include "log_stores/log_store.h"

namespace log_stores {

inline constexpr std::size_t kDbConnectionStringMax = 1424;
inline constexpr std::size_t kDbNameCapacity = 260;  // logger name and table prefix, with the NUL

class CLogDbStore : public CLogStore {
  public:
    CLogDbStore();
    ~CLogDbStore() override;

    // Called by the collection once it has made the run's tables: writes the run's LOGGERS row,
    // its predefined lines into TEXT and its CHANNELS rows, then opens the store for logging.
    // `headerText` may be null (no header, no TEXT rows); `server` may be null (local);
    // `channels` gives each channel's configuration (null or empty: none can be had).
    int CreateRun(const char* connectionString, const char* tablePrefix, const char* loggerName,
                  std::int32_t sequence, const LogHeader& header, const char* headerText, const char* server,
                  const db_schema::ChannelLookup* channels);
    // The run's table prefix (capacity kDbNameCapacity), cut to fit with its NUL.
    void GetTablePrefix(char* out, std::size_t capacity) const;
    std::int32_t GetSequence() const;
    // Where the state texts of digital channels come from while logging with "DatabaseDigitalText";
    // without one, state texts are written empty.
    void SetChannelLookup(db_schema::ChannelLookup lookup);

    int Open(const char* server, const char* location, std::uint32_t access) override;
    int OpenForLogging(LogHeader& header) override;
    void GetLocation(char* text, std::size_t* size) override;
    int Close() override;
    int WriteEndOffset(std::int32_t count) override;
    int ReadHeader(LogHeader& header) override;
    int WriteHeader(const LogHeader& header, bool completed) override;
    int ReadChannelConfig(const LogHeader& header, qvr::ChannelRecord* out, std::size_t block, std::size_t first,
                          std::size_t count) override;
    int WriteLogs(const LogHeader& header, const std::uint8_t* records, std::int32_t count) override;
    int ReadLogsByTime(const TimeStamp* from, const TimeStamp* to, const LogHeader& header, std::uint8_t* out,
                       std::int32_t recordBytes, std::int32_t count, std::int32_t extraSlots,
                       const char* columnPrefix, bool descending, bool columnsOnly) override;
    int ReadLogs(std::int32_t first, const LogHeader& header, std::uint8_t* out, std::int32_t count,
                 std::int32_t extraSlots, const char* columnPrefix, std::int32_t further) override;
    int ReadLog(std::int32_t index, const LogHeader& header, std::uint8_t* out, std::int32_t bytes,
                std::int32_t flag, std::int32_t extraSlots, const char* columnPrefix, std::int32_t limit,
                bool descending) override;
    int RewriteLogs(std::int32_t index, const LogHeader& header, const std::uint8_t* records,
                    std::int32_t bytes) override;
    int GetNoLogs(const LogHeader& header) override;
    int GetNoMarkedLogs(const LogHeader& header) override;
    int ReadSectionW(const char* section, char16_t* out, std::size_t* size, std::int32_t further1,
                     std::int32_t further2) override;
    int ReadSection(const char* section, char* out, std::size_t* size, std::int32_t further1,
                    std::int32_t further2) override;
    int ReadSectionLinesW(const char* section, const char16_t** lines, std::size_t* count, char16_t* buffer,
                          std::size_t* size, std::int32_t further1, std::int32_t further2) override;
    int ReadSectionLines(const char* section, const char** lines, std::size_t* count, char* buffer,
                         std::size_t* size, std::int32_t further1, std::int32_t further2) override;
    int AddTextW(std::int32_t seconds, const char16_t* text, const char16_t* match, const char* section) override;
    int AddText(std::int32_t seconds, const char* text, const char* match, const char* section) override;
    int AddTextPreciseW(const TimeStamp& time, const char16_t* text, const char16_t* match,
                        const char* section) override;
    int AddTextPrecise(const TimeStamp& time, const char* text, const char* match, const char* section) override;
    int AddPosition(std::int32_t seconds, bool hasValue, float value) override;
    int WriteHeaderTextW(const char16_t* text) override;
    int WriteHeaderText(const char* text) override;
    int WriteFormulae(const char* prefix, std::int32_t number, const char* text) override;
    int WriteUnitCategory(const char* name, const char* text) override;
    int GetTextTime(std::int32_t& seconds) override;
    const char* GetErrorText() override;
    const char* GetErrorContext() override;
    int Rename(const char* newPrefix) override;
    void DeleteLogsInRange(const TimeStamp& from, const TimeStamp& to) override;
    int TruncateLogs(const LogHeader& header, std::int32_t n) override;
    int GetNoLogsInRange(const TimeStamp& from, const TimeStamp& to, const LogHeader& header) override;

    // The range delete with either bound left open (WriteHeader deletes everything before a start).
    void DeleteLogsBetween(const TimeStamp* from, const TimeStamp* to);

  private:
    friend std::uint64_t testing_record_queries(const CLogDbStore& store);
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace log_stores
