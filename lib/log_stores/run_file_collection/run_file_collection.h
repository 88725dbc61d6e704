#pragma once
// The collection of the file kind: the runs of one logger are the run files (".qdl") of one
// folder, each with its companions of the same stem (".txt" text, ".qvr" configuration
// archive, ".zip"). It finds or creates the folder, names new runs, lists runs (for a folder
// of another machine that no mapping reaches, through that machine's server), picks the
// latest run, finishes runs by renaming them and deletes old runs with their companions.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "log_stores/log_collection.h"
#include "log_stores/run_file_collection/folder_listing.h"
#include "log_stores/run_file_collection/logger_folder.h"

namespace log_stores {

inline constexpr std::size_t kRunListNameSize = 256;
inline constexpr std::size_t kCollectionErrorTextSize = 1000;
inline constexpr std::size_t kCollectionErrorContextSize = 32;

class CLogFileCollection : public CLogCollection {
  public:
    CLogFileCollection() = default;
    ~CLogFileCollection() override = default;

    // `folder` null or empty: the logger's folder below QVR_LOGGED_DATA. A folder that does
    // not exist is created with write access (see create_logger_folder); a folder of another
    // machine that no mapping reaches is listed through its server when opened for reading
    // only. 0, or -1 with the last error.
    int Open(const char* connection, const char* folder, const char* loggerName, const char* prefix,
             std::uint32_t access) override;
    void Placeholder(std::intptr_t argument) override;
    // Deletes, extension by extension (".qdl", ".txt", ".qvr", ".zip"), every file whose
    // start and non-zero stop lie before `seconds`; with a prefix only files whose name
    // begins with it (letter case ignored), so loggers sharing the folder keep their runs.
    void DeleteRunsBefore(std::int32_t seconds) override;
    int BeginRunList(std::size_t* nameSize) override;
    // `name` must hold kRunListNameSize characters.
    int GetNextRun(char* name, TimeStamp* start, TimeStamp* stop) override;
    // The name is copied when it and its NUL fit in *nameSize (kRunListNameSize when nameSize is
    // null); else nothing is copied, *nameSize becomes the size needed and the result is 0
    // with ERROR_INSUFFICIENT_BUFFER.
    int GetLatestRun(char* name, std::size_t* nameSize, TimeStamp* start, TimeStamp* stop,
                     bool anyPrefix) override;
    std::unique_ptr<CLogStore> NewRunW(std::int32_t* start, bool plainPrefix, std::intptr_t unused,
                                       LogHeader& header, const char16_t* headerText, bool archiveConfig,
                                       const char* server, bool datePrefix,
                                       const qvr::ChannelRecord* const* channels) override;
    std::unique_ptr<CLogStore> NewRun(std::int32_t* start, bool plainPrefix, std::intptr_t unused, LogHeader& header,
                                      const char* headerText, bool archiveConfig, const char* server,
                                      bool datePrefix, const qvr::ChannelRecord* const* channels) override;
    std::unique_ptr<CLogStore> OpenStore(const char* runName, std::uint32_t access) override;
    int UseforLogging(CLogStore& store, LogHeader& header, const char* prefix, bool needText,
                      bool needArchive) override;
    int FinishRun(CLogStore& store, const TimeStamp* start, const TimeStamp* stop, bool readOnly) override;
    const char* GetErrorText() override;
    const char* GetErrorContext() override;
    // "<folder>/<name>" ('\' for a folder of another machine); copied when it and its NUL fit
    // in *size, which always becomes the size needed.
    void GetStoreLocation(const char* runName, char* location, std::size_t* size) override;

    const std::string& folder() const { return folder_.folder; }
    bool is_remote() const { return remote_; }

  private:
    // The header text as the companion's bytes: 8-bit text as it is, UTF-16 behind FF FE.
    struct HeaderText {
        std::string bytes;
        bool given = false;
    };
    std::unique_ptr<CLogStore> new_run(std::int32_t* start, LogHeader& header, const HeaderText& text,
                                       bool archiveConfig, const char* server,
                                       const qvr::ChannelRecord* const* channels);
    void set_error(std::string context, std::string text);
    // The local form of the folder, for file operations here (-1 with 53 when unmapped).
    int local_folder_path(std::string& local) const;

    LoggerFolder folder_;
    bool remote_ = false;
    FolderListing listing_;
    std::string errorText_;
    std::string errorContext_;
};

}  // namespace log_stores
