// The collection's operations on single runs: making a new run with its companions, opening
// one, taking one into use for logging, and finishing or deleting one.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/run_file/run_name.h"
#include "log_stores/run_file_collection/run_companions.h"
#include "log_stores/run_file_collection/run_file_collection.h"
#include "log_stores/run_file_collection/run_stamp.h"
#include "log_stores/run_file_store/run_file_store.h"
#include "log_stores/text_files/logger_text_files.h"
#include "platform/ascii_text.h"
#include "platform/file_move.h"
#include "platform/file_paths.h"
#include "platform/file_save.h"
#include "platform/last_error.h"
#include "qvr/settings/archive.h"
#include "qvr/settings/env.h"
#include "qvr/time/timestamp.h"

namespace log_stores {
namespace {

constexpr std::string_view kRunExtension = ".qdl";
constexpr std::string_view kArchiveExtension = ".qvr";
constexpr std::string_view kZipExtension = ".zip";
constexpr std::string_view kTextExtension = ".txt";

std::string store_location(CLogStore& store) {
    char path[kRunFilePathSize + 1] = {};
    std::size_t size = sizeof path;
    store.GetLocation(path, &size);
    return size <= sizeof path ? std::string(path) : std::string();
}

void remove_quietly(const std::string& path) {
    if (!path.empty()) ::unlink(path.c_str());
}

std::string utf16_file_bytes(const char16_t* text) {
    std::string bytes = "\xFF\xFE";
    for (const char16_t* p = text; *p != 0; ++p) {
        bytes += static_cast<char>(*p & 0xFF);
        bytes += static_cast<char>(*p >> 8);
    }
    return bytes;
}

// Moves a companion to the stem of the run's new name, keeping its case of extension.
void move_companion(const std::optional<std::string>& companion, const std::string& new_stem,
                    std::string_view extension, bool read_only) {
    if (!companion) return;
    const std::string target = new_stem + std::string(extension);
    if (*companion == target) return;
    if (platform::move_no_replace(*companion, target) == 0) set_read_only(target, read_only);
}

}  // namespace

std::unique_ptr<CLogStore> CLogFileCollection::NewRunW(std::int32_t* start, bool, std::intptr_t, LogHeader& header,
                                                       const char16_t* headerText, bool archiveConfig,
                                                       const char* server, bool,
                                                       const qvr::ChannelRecord* const* channels) {
    HeaderText text;
    if (headerText != nullptr) text = HeaderText{utf16_file_bytes(headerText), true};
    return new_run(start, header, text, archiveConfig, server, channels);
}

std::unique_ptr<CLogStore> CLogFileCollection::NewRun(std::int32_t* start, bool, std::intptr_t, LogHeader& header,
                                                      const char* headerText, bool archiveConfig, const char* server,
                                                      bool, const qvr::ChannelRecord* const* channels) {
    HeaderText text;
    if (headerText != nullptr) text = HeaderText{std::string(headerText), true};
    return new_run(start, header, text, archiveConfig, server, channels);
}

std::unique_ptr<CLogStore> CLogFileCollection::new_run(std::int32_t* start, LogHeader& header,
                                                       const HeaderText& text, bool archiveConfig,
                                                       const char* server,
                                                       const qvr::ChannelRecord* const* channels) {
    // A start past the 32-bit count would name the run with a year 38-69, which no listing
    // takes for a run of this system.
    if (start == nullptr || *start < 0) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return nullptr;
    }
    // The prefix begins the run's file name: a separator in it would put the run, or its
    // text companion as the text files read paths, into another folder.
    if (CLogCollection::prefix().find_first_of("/\\") != std::string::npos) {
        set_error("Bad run prefix", "a run prefix with '/' or '\\' names another folder");
        platform::set_last_error(platform::kErrorInvalidParameter);
        return nullptr;
    }
    std::string local;
    if (remote_ || local_folder_path(local) != 0) {
        if (remote_) platform::set_last_error(platform::kErrorAccessDenied);
        return nullptr;
    }
    const std::string path = local + "/" + run_file::running_run_name(CLogCollection::prefix(), *start);
    // A run already of this name keeps its file and its companions.
    if (check_new_run_path(path) != 0) return nullptr;
    auto store = std::make_unique<CLogFileStore>();
    std::vector<std::string> written;
    const auto fail = [&](int error) -> std::unique_ptr<CLogStore> {
        store->Close();
        if (error != platform::kErrorFileExists && error != platform::kErrorLockViolation)
            for (const std::string& file : written) remove_quietly(file);
        platform::set_last_error(error);
        return nullptr;
    };

    if (text.given) {
        const std::string text_path = run_file::companion_name(path, kTextExtension);
        if (platform::save_file(text_path, std::string_view(text.bytes)) != 0) return fail(platform::last_error());
        written.push_back(text_path);
    }
    if (archiveConfig) {
        // The configuration is the folder above its LOGGERS folder; the archivers run there,
        // and the process's current folder is never changed.
        const std::string archive_path = run_file::companion_name(path, kArchiveExtension);
        const char* config = env_GetVariable("QVR_CURRENT_CONFIG");
        if (config == nullptr) return fail(platform::kErrorPathNotFound);
        const std::string config_folder(config);
        if (save_ArchiveConfig(archive_path.c_str(), nullptr, 0, config_folder.c_str()) != 0)
            return fail(platform::last_error());
        written.push_back(archive_path);
    }
    if (store->CreateRunFile(path.c_str(), header, server, channels) != 0) return fail(platform::last_error());
    return store;
}

std::unique_ptr<CLogStore> CLogFileCollection::OpenStore(const char* runName, std::uint32_t access) {
    if (runName == nullptr || *runName == '\0') {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return nullptr;
    }
    auto store = std::make_unique<CLogFileStore>();
    const std::string location = path_in_folder(folder_, runName);
    // A folder listed through its machine's server has its runs read through it too.
    const char* server = remote_ ? folder_.machine.c_str() : nullptr;
    if (store->Open(server, location.c_str(), access) != 0) return nullptr;
    return store;
}

int CLogFileCollection::UseforLogging(CLogStore& store, LogHeader& header, const char* prefixText, bool needText,
                                      bool needArchive) {
    const std::string location = store_location(store);
    const std::string prefix = prefixText != nullptr ? prefixText : "";
    const std::string name = file_name_of(location);
    if (!platform::starts_with_ignoring_case(name, prefix)) {
        set_error("Prefixes don't match", "Prefixes don't match, Path " + location + ", LogPrefix " + prefix);
        return platform::fail(platform::kErrorInvalidParameter);
    }
    // Companions are looked for where the run file is opened.
    std::string local;
    if (local_path(location, local) != 0) local = location;
    std::optional<std::string> text_file;
    if (needText) {
        text_file = text_files::FindLoggerTextFile(nullptr, local);
        if (!text_file) {
            set_error("Cant determine text file name", "Cant determine text file name");
            return platform::fail(ENOENT);
        }
        if (!platform::file_access_allowed(*text_file, platform::kAccessRead | platform::kAccessWrite)) {
            const int error = errno != 0 ? errno : EACCES;
            set_error("Cant access text file " + std::to_string(error),
                      "Cant access text file " + std::to_string(error) + " " + *text_file);
            return platform::fail(error);
        }
    }
    std::optional<std::string> archive;
    if (needArchive) {
        archive = find_companion(local, kArchiveExtension);
        if (!archive) {
            set_error("Cant find archive file", "Cant find archive file for " + location);
            return platform::fail(ENOENT);
        }
    }
    if (store.OpenForLogging(header) != 0) {
        const int error = platform::last_error();
        const std::string message = "UseforLogging failed " + std::to_string(errno) + " " + std::to_string(error);
        set_error(message, message);
        return platform::fail(error);
    }
    // A finished run opened for logging is back under its running name: its companions follow.
    const std::string now = store_location(store);
    std::string now_local;
    if (local_path(now, now_local) != 0) now_local = now;
    const std::string stem = stem_of(now_local);
    if (text_file && !platform::equal_ignoring_case(file_name_of(*text_file), file_name_of(stem) + ".txt")) {
        const std::string target = stem + ".txt";
        if (platform::move_no_replace(*text_file, target) == 0) set_read_only(target, false);
    }
    if (archive && now != location) {
        const std::string target = stem + std::string(kArchiveExtension);
        if (platform::move_no_replace(*archive, target) == 0) set_read_only(target, false);
    }
    return 0;
}

int CLogFileCollection::FinishRun(CLogStore& store, const TimeStamp* start, const TimeStamp* stop, bool readOnly) {
    const std::string location = store_location(store);
    store.Close();
    if (location.empty()) return platform::fail(platform::kErrorInvalidParameter);
    std::string path;
    if (local_path(location, path) != 0) return -1;

    const auto text = text_files::FindLoggerTextFile(nullptr, path);
    const auto archive = find_companion(path, kArchiveExtension);
    const auto zip = find_companion(path, kZipExtension);
    if (start == nullptr) {
        if (::unlink(path.c_str()) != 0) return platform::fail_from_errno();
        for (const auto& companion : {text, archive, zip})
            if (companion) remove_quietly(*companion);
        return 0;
    }

    const std::string name = file_name_of(path);
    const auto stamp = read_run_stamp(name, kRunExtension);
    if (!stamp) return 0;  // no stamp to replace: the run keeps its name
    std::string new_name = name.substr(0, stamp->at) + time_FileStampText(start->seconds);
    if (stop != nullptr) new_name += std::string("_") + time_FileStampText(stop->seconds);
    new_name += kRunExtension;
    const std::string new_path = folder_of(path) + "/" + new_name;
    if (new_path != path) {
        if (platform::move_no_replace(path, new_path) != 0) return 0;  // the run keeps its name
    }
    set_read_only(new_path, readOnly);
    // The store names the run by its new name from here on; it stays closed.
    if (store.Open(nullptr, new_path.c_str(), kGenericRead) == 0) store.Close();

    const std::string new_stem = stem_of(new_path);
    move_companion(text, new_stem, kTextExtension, readOnly);
    move_companion(archive, new_stem, kArchiveExtension, readOnly);
    move_companion(zip, new_stem, kZipExtension, readOnly);
    return 0;
}

}  // namespace log_stores
