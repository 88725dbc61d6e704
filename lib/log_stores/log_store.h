#pragma once
// One logged run, whatever holds it (a run file, database tables). Every reader and writer of
// logged data talks to this interface only. Operations a kind does not support keep the
// results given here. Results are 0 / -1 with the reason in the last error unless said
// otherwise; times are UTC seconds since 1970 (TimeStamp layout).
#include <cstddef>
#include <cstdint>
#include <span>

#include "log_stores/log_header.h"
#include "qvr/records/channel_record.h"
#include "qvr/time/timestamp.h"

namespace log_stores {

inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;

class CLogStore {
  public:
    CLogStore() = default;
    CLogStore(const CLogStore&) = delete;
    CLogStore& operator=(const CLogStore&) = delete;
    virtual ~CLogStore() = default;

    // Opens an existing run; `server` may be null (local), `access` is a mask of kGeneric*.
    virtual int Open(const char* server, const char* location, std::uint32_t access);
    virtual int OpenForLogging(LogHeader& header);
    // Copies the store's location when it and its NUL fit in *size; *size always becomes the
    // size needed. Either pointer may be null.
    virtual void GetLocation(char* text, std::size_t* size);
    virtual int Close();
    // 0: writes the current end-of-data offset; otherwise rewrites the header with that count.
    virtual int WriteEndOffset(std::int32_t count);
    // Fills the header; recordCount and endOfData come from the data actually present.
    virtual int ReadHeader(LogHeader& header) = 0;
    virtual int WriteHeader(const LogHeader& header, bool completed);
    // `count` configurations from channel index `first` of block `block`.
    virtual int ReadChannelConfig(const LogHeader& header, qvr::ChannelRecord* out, std::size_t block,
                                  std::size_t first, std::size_t count);
    // Appends `count` records of header.recordSize bytes, each beginning with 0x8004.
    virtual int WriteLogs(const LogHeader& header, const std::uint8_t* records, std::int32_t count);
    // Records of a time range, in the database kinds only: the number built.
    virtual int ReadLogsByTime(const TimeStamp* from, const TimeStamp* to, const LogHeader& header,
                               std::uint8_t* out, std::int32_t recordBytes, std::int32_t count,
                               std::int32_t extraSlots, const char* columnPrefix, bool descending,
                               bool columnsOnly);
    // Up to `count` records from index `first`; each takes recordSize + 8 x extraSlots bytes
    // of `out`. The number read, 0 on failure.
    virtual int ReadLogs(std::int32_t first, const LogHeader& header, std::uint8_t* out, std::int32_t count,
                         std::int32_t extraSlots, const char* columnPrefix, std::int32_t further) = 0;
    virtual int ReadLog(std::int32_t index, const LogHeader& header, std::uint8_t* out, std::int32_t bytes,
                        std::int32_t flag, std::int32_t extraSlots, const char* columnPrefix, std::int32_t limit,
                        bool descending) = 0;
    virtual int RewriteLogs(std::int32_t index, const LogHeader& header, const std::uint8_t* records,
                            std::int32_t bytes);
    // The number of records, -1 on failure.
    virtual int GetNoLogs(const LogHeader& header) = 0;
    virtual int GetNoMarkedLogs(const LogHeader& header);
    // Sections of the run's text. `size` is in/out.
    virtual int ReadSectionW(const char* section, char16_t* out, std::size_t* size, std::int32_t further1,
                             std::int32_t further2);
    virtual int ReadSection(const char* section, char* out, std::size_t* size, std::int32_t further1,
                            std::int32_t further2);
    virtual int ReadSectionLinesW(const char* section, const char16_t** lines, std::size_t* count,
                                  char16_t* buffer, std::size_t* size, std::int32_t further1, std::int32_t further2);
    virtual int ReadSectionLines(const char* section, const char** lines, std::size_t* count, char* buffer,
                                 std::size_t* size, std::int32_t further1, std::int32_t further2);
    // A time-stamped line; section null means "TEXT".
    virtual int AddTextW(std::int32_t seconds, const char16_t* text, const char16_t* match, const char* section);
    virtual int AddText(std::int32_t seconds, const char* text, const char* match, const char* section);
    virtual int AddTextPreciseW(const TimeStamp& time, const char16_t* text, const char16_t* match,
                                const char* section);
    virtual int AddTextPrecise(const TimeStamp& time, const char* text, const char* match, const char* section);
    virtual int AddPosition(std::int32_t seconds, bool hasValue, float value);
    virtual int WriteHeaderTextW(const char16_t* text);
    virtual int WriteHeaderText(const char* text);
    virtual int WriteFormulae(const char* prefix, std::int32_t number, const char* text);
    virtual int WriteUnitCategory(const char* name, const char* text);
    // Time of the last change of the run's text.
    virtual int GetTextTime(std::int32_t& seconds);
    virtual const char* GetErrorText();
    virtual const char* GetErrorContext();
    // 1 renamed, 0 not.
    virtual int Rename(const char* newPrefix);
    virtual void DeleteLogsInRange(const TimeStamp& from, const TimeStamp& to);
    // Drops the last n records (the file kind); 0 / -1.
    virtual int TruncateLogs(const LogHeader& header, std::int32_t n);
    virtual int GetNoLogsInRange(const TimeStamp& from, const TimeStamp& to, const LogHeader& header);
};

}  // namespace log_stores
