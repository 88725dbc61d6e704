// The run's text, kept in its ".txt" companion by the logger text-file operations: on this
// machine while the store has a handle, else through the server. The UTF-16 forms work on
// local files only.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "log_stores/run_file/run_name.h"
#include "log_stores/run_file_store/remote_run_file.h"
#include "log_stores/run_file_store/run_file_store.h"
#include "log_stores/text_files/logger_text_files.h"
#include "log_stores/text_files/text_edit.h"
#include "platform/last_error.h"

namespace log_stores {

namespace tf = text_files;

namespace {
constexpr const char* kTextSection = "TEXT";

std::string_view section_or_text(const char* section) { return section != nullptr ? section : kTextSection; }
std::string_view text_or_empty(const char* text) { return text != nullptr ? text : ""; }
std::u16string_view text_or_empty(const char16_t* text) { return text != nullptr ? text : u""; }
}  // namespace

// The companion the run already has, else the one a first edit makes.
std::string CLogFileStore::text_companion() const {
    const bool local = mainHandle_.valid();
    const std::string& run = local ? localPath_ : path_;
    if (const auto found = tf::FindLoggerTextFile(local ? nullptr : server_.c_str(), run)) return *found;
    return run_file::companion_name(run, ".txt");
}

int CLogFileStore::ReadSectionW(const char* section, char16_t* out, std::size_t* size, std::int32_t, std::int32_t) {
    if (!mainHandle_.valid() || section == nullptr) return platform::fail(EBADF);
    return tf::ReadSectionW(text_companion(), section, out, size);
}

int CLogFileStore::ReadSection(const char* section, char* out, std::size_t* size, std::int32_t, std::int32_t) {
    if (section == nullptr || (!mainHandle_.valid() && server_.empty())) return platform::fail(EBADF);
    if (mainHandle_.valid()) return tf::ReadSection(text_companion(), section, out, size);
    return tf::ReadSectionRemote(server_.c_str(), text_companion(), section, out, size);
}

int CLogFileStore::ReadSectionLinesW(const char* section, const char16_t** lines, std::size_t* count,
                                     char16_t* buffer, std::size_t* size, std::int32_t, std::int32_t) {
    if (!mainHandle_.valid() || section == nullptr) return platform::fail(EBADF);
    return tf::ReadSectionLinesW(text_companion(), section, lines, count, buffer, size);
}

int CLogFileStore::ReadSectionLines(const char* section, const char** lines, std::size_t* count, char* buffer,
                                    std::size_t* size, std::int32_t, std::int32_t) {
    if (section == nullptr || (!mainHandle_.valid() && server_.empty())) return platform::fail(EBADF);
    if (mainHandle_.valid()) return tf::ReadSectionLines(text_companion(), section, lines, count, buffer, size);
    return tf::ReadSectionLinesRemote(server_.c_str(), text_companion(), section, lines, count, buffer, size);
}

int CLogFileStore::AddTextPreciseW(const TimeStamp& time, const char16_t* text, const char16_t* match,
                                   const char* section) {
    if (!mainHandle_.valid()) return platform::fail(EBADF);
    return tf::AddTextLineW(text_companion(), section_or_text(section), time, text_or_empty(text), match);
}

int CLogFileStore::AddTextW(std::int32_t seconds, const char16_t* text, const char16_t* match, const char* section) {
    return AddTextPreciseW(TimeStamp{seconds, 0, 0}, text, match, section);
}

int CLogFileStore::AddTextPrecise(const TimeStamp& time, const char* text, const char* match, const char* section) {
    if (!mainHandle_.valid() && server_.empty()) return platform::fail(EBADF);
    if (mainHandle_.valid())
        return tf::AddTextLine(text_companion(), section_or_text(section), time, text_or_empty(text), match);
    return tf::AddTextLineRemote(server_.c_str(), text_companion(), section_or_text(section), time,
                                 text_or_empty(text), match);
}

int CLogFileStore::AddText(std::int32_t seconds, const char* text, const char* match, const char* section) {
    return AddTextPrecise(TimeStamp{seconds, 0, 0}, text, match, section);
}

int CLogFileStore::AddPosition(std::int32_t seconds, bool hasValue, float value) {
    char text[64] = "";
    if (hasValue) std::snprintf(text, sizeof text, "%f", static_cast<double>(value));
    return AddText(seconds, text, nullptr, "POSITIONS");
}

int CLogFileStore::replace_section(const std::string& section, std::string_view text) {
    if (!mainHandle_.valid() && server_.empty()) return platform::fail(EBADF);
    if (mainHandle_.valid()) return tf::ReplaceTextSection(text_companion(), section, text);
    return tf::ReplaceTextSectionRemote(server_.c_str(), text_companion(), section, text);
}

int CLogFileStore::WriteHeaderTextW(const char16_t* text) {
    if (!mainHandle_.valid()) return platform::fail(EBADF);
    return tf::ReplaceTextSectionW(text_companion(), "HEADER", text_or_empty(text));
}

int CLogFileStore::WriteHeaderText(const char* text) { return replace_section("HEADER", text_or_empty(text)); }

int CLogFileStore::WriteFormulae(const char* prefix, std::int32_t number, const char* text) {
    char section[64];
    std::snprintf(section, sizeof section, "%1.2s_%d_FORMULAE", prefix != nullptr ? prefix : "", number);
    return replace_section(section, text_or_empty(text));
}

int CLogFileStore::WriteUnitCategory(const char* name, const char* text) {
    if (name == nullptr) return platform::fail(platform::kErrorInvalidParameter);
    return replace_section(std::string(name) + "_UNIT_CATEGORY", text_or_empty(text));
}

int CLogFileStore::GetTextTime(std::int32_t& seconds) {
    if (!mainHandle_.valid()) {
        if (server_.empty()) return platform::fail(EBADF);
        const auto companion = tf::FindLoggerTextFile(server_.c_str(), path_);
        if (!companion) return -1;
        const auto time = run_file_store::remote_write_time(server_, run_file_store::server_file_name(*companion));
        if (!time) return -1;
        seconds = static_cast<std::int32_t>(*time);
        return 0;
    }
    const auto companion = tf::FindLoggerTextFile(nullptr, localPath_);
    struct stat st {};
    if (!companion || ::stat(companion->c_str(), &st) != 0) return -1;
    std::int64_t latest = st.st_mtim.tv_sec;
    // Event lines of the folder's runs may all go to one events file.
    if (tf::EventsFileInUse() == 1) {
        const std::string events = tf::EventsFilePath(*companion);
        struct stat events_st {};
        if (::access(events.c_str(), R_OK) == 0 && ::stat(events.c_str(), &events_st) == 0)
            latest = std::max<std::int64_t>(latest, events_st.st_mtim.tv_sec);
    }
    seconds = static_cast<std::int32_t>(latest);
    return 0;
}

}  // namespace log_stores
