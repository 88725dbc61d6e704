#pragma once
// The store of one run file (".qdl"): appends records while a logger runs and serves reads of
// the same file at the same time, from other processes too (the writer holds an OFD lock of
// the byte just behind its data), and from other machines through the server's remote file
// requests when no local handle reaches the file. The run's text lives in its ".txt"
// companion.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "log_stores/log_header.h"
#include "log_stores/log_store.h"
#include "platform/byte_lock.h"
#include "platform/unique_fd.h"
#include "qvr/records/channel_record.h"

namespace log_stores {

inline constexpr std::size_t kRunFileServerSize = 1284;
inline constexpr std::size_t kRunFilePathSize = 260;

class CLogFileStore : public CLogStore {
  public:
    CLogFileStore() = default;
    ~CLogFileStore() override;

    int Open(const char* server, const char* location, std::uint32_t access) override;
    int OpenForLogging(LogHeader& header) override;
    void GetLocation(char* text, std::size_t* size) override;
    int Close() override;
    int WriteEndOffset(std::int32_t count) override;
    int ReadHeader(LogHeader& header) override;
    // The 900-byte header at the start of the file: 1 written, 0 the write failed, -1 no handle.
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
    // Drops the last n records this store wrote (0 .. written); 0, or -1 with 87.
    int TruncateLogs(const LogHeader& header, std::int32_t n) override;
    int GetNoLogsInRange(const TimeStamp& from, const TimeStamp& to, const LogHeader& header) override;

    // Creates the run file `path` for logging: header, channel sections and extension block.
    // `configurations[k]` points at block k's channel records when given; else, with a
    // `server` that is not this machine, each channel is fetched from it, else it is copied
    // from the live device configuration module. Never replaces a file holding a complete
    // record (80). 0, or -1 with nothing left open.
    int CreateRunFile(const char* path, const LogHeader& header, const char* server,
                      const qvr::ChannelRecord* const* configurations);

    // Where the next record goes; 0 when this store does not log.
    std::uint32_t end_offset() const noexcept { return endOffset_; }
    // True when no local handle reaches the file and reads go through the server.
    bool is_remote() const noexcept { return !mainHandle_.valid() && !server_.empty(); }

  private:
    int try_local(const std::string& path, std::uint32_t access);
    int open_local(const std::string& local, std::uint32_t access);
    int reopen();
    int start_logging(std::int32_t end);
    int read_handle() const noexcept { return readHandle_.valid() ? readHandle_.get() : mainHandle_.get(); }
    // Reads through the local handle or the server; the count read, or -1.
    long long read_at(std::span<std::uint8_t> out, std::uint64_t offset);
    long long file_size();
    int read_records_once(std::span<std::uint8_t> out, std::uint64_t offset, bool probe);
    void close_handles() noexcept;
    std::string text_companion() const;
    int replace_section(const std::string& section, std::string_view text);

    platform::UniqueFd mainHandle_;
    platform::UniqueFd readHandle_;
    std::uint32_t endOffset_ = 0;
    std::int32_t headerEndOffset_ = 0;
    std::string server_;
    std::string path_;       // as the caller gave it
    std::string localPath_;  // what this machine opens (a mapped remote path); empty when remote
    std::string remotePath_;  // what the server's file requests name
    std::uint32_t access_ = 0;
    platform::ByteLock endLock_;
};

}  // namespace log_stores
