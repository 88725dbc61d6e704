#pragma once
// All runs of one logger, whatever holds them. The base keeps the run name prefix.
// Stores handed out belong to the caller.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "log_stores/log_header.h"
#include "log_stores/log_store.h"
#include "qvr/records/channel_record.h"
#include "qvr/time/timestamp.h"

namespace log_stores {

inline constexpr std::size_t kMaxRunPrefix = 204;

class CLogCollection {
  public:
    CLogCollection() = default;
    CLogCollection(const CLogCollection&) = delete;
    CLogCollection& operator=(const CLogCollection&) = delete;
    virtual ~CLogCollection() = default;

    // The base keeps `prefix` (null: empty) and returns 0; a prefix longer than 204
    // characters is refused with -1 and last error 0, the kept prefix unchanged.
    virtual int Open(const char* connection, const char* folder, const char* loggerName, const char* prefix,
                     std::uint32_t access);
    virtual void Placeholder(std::intptr_t argument);
    virtual void DeleteRunsBefore(std::int32_t seconds);
    // 1 when a list was started, 0 if not.
    virtual int BeginRunList(std::size_t* nameSize);
    // 1 given, 0 at the end.
    virtual int GetNextRun(char* name, TimeStamp* start, TimeStamp* stop);
    // 1 found, 0 none.
    virtual int GetLatestRun(char* name, std::size_t* nameSize, TimeStamp* start, TimeStamp* stop, bool anyPrefix);
    // A new run, open for logging, or none. `channels` holds one pointer per block (or is null).
    virtual std::unique_ptr<CLogStore> NewRunW(std::int32_t* start, bool plainPrefix, std::intptr_t unused,
                                               LogHeader& header, const char16_t* headerText, bool archiveConfig,
                                               const char* server, bool datePrefix,
                                               const qvr::ChannelRecord* const* channels);
    virtual std::unique_ptr<CLogStore> NewRun(std::int32_t* start, bool plainPrefix, std::intptr_t unused,
                                              LogHeader& header, const char* headerText, bool archiveConfig,
                                              const char* server, bool datePrefix,
                                              const qvr::ChannelRecord* const* channels);
    virtual std::unique_ptr<CLogStore> OpenStore(const char* runName, std::uint32_t access);
    virtual int UseforLogging(CLogStore& store, LogHeader& header, const char* prefix, bool needText,
                              bool needArchive) = 0;
    // Closes the store; with a start time the run gets its finished name, without one it is
    // deleted.
    virtual int FinishRun(CLogStore& store, const TimeStamp* start, const TimeStamp* stop, bool readOnly);
    virtual const char* GetErrorText();
    virtual const char* GetErrorContext();
    virtual void GetStoreLocation(const char* runName, char* location, std::size_t* size);

    const std::string& prefix() const { return prefix_; }

  private:
    std::string prefix_;
};

}  // namespace log_stores
