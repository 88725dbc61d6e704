// The thread's list file and its reader.
#include "qvr/requests/list_file.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/last_error.h"
#include "platform/remote_path.h"
#include "qvr/diag/sink.h"
#include "qvr/ext/ext_device_list.h"
#include "qvr/settings/env.h"

namespace qvr::requests {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct ThreadList {
    std::unique_ptr<std::FILE, FileCloser> file;
    std::string path;
    int line_number = 0;
    std::string last_line;
};

ThreadList& thread_list() {
    thread_local ThreadList list;
    return list;
}

bool skipped(const std::string& line) {
    const std::size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos || line[first] == '*';
}

// One physical line, cut to the limit; false at the end of the file.
bool read_physical(std::FILE* file, std::string& out) {
    out.clear();
    int c = std::getc(file);
    if (c == EOF) return false;
    for (; c != EOF && c != '\n'; c = std::getc(file))
        if (out.size() < kListLineMax) out.push_back(static_cast<char>(c));
    while (!out.empty() && (out.back() == '\r' || out.back() == '\n')) out.pop_back();
    return true;
}

std::string local_path(const std::string& path) {
    std::string local;
    if (platform::is_remote_path(path)) {
        if (platform::map_remote_path(path, local) != 0) return {};
        return local;
    }
    local = path;
    for (char& c : local)
        if (c == '\\') c = '/';
    return local;
}

}  // namespace

bool next_list_line(std::size_t max_fields, ListLine& line) {
    ThreadList& list = thread_list();
    line = ListLine{};
    if (!list.file) return false;
    std::string text;
    while (read_physical(list.file.get(), text)) {
        ++list.line_number;
        if (skipped(text)) continue;
        std::size_t start = 0;
        while (line.fields.size() < max_fields) {
            const std::size_t comma = text.find(',', start);
            line.fields.push_back(
                text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        line.text = text;
        list.last_line = text;
        return true;
    }
    std::rewind(list.file.get());
    list.line_number = 0;
    return false;
}

int count_list_entries(const std::string& path) {
    if (OpenListFile(path.c_str()) != 0) return -1;
    int count = 0;
    ListLine line;
    while (next_list_line(1, line)) ++count;
    CloseListFile();
    return count;
}

std::string list_file_path(const std::string& folder, const std::string& name) {
    const std::string local = local_path(folder);
    if (local.empty()) return folder + "/" + name;
    const std::string found = qvr::ext::find_file_any_case(local, name);
    return found.empty() ? local + "/" + name : found;
}

}  // namespace qvr::requests

using qvr::requests::thread_list;

int OpenListFile(const char* path) {
    if (path == nullptr || *path == '\0') return platform::fail(platform::kErrorInvalidParameter);
    CloseListFile();
    std::string full = path;
    const bool relative = full[0] != '/' && full[0] != '\\' && !(full.size() > 1 && full[1] == ':');
    if (relative) {
        const char* folder = env_GetProductFolder("QVR_CURRENT_CONFIG");
        if (folder == nullptr) return platform::fail(platform::kErrorPathNotFound);
        full = qvr::requests::list_file_path(folder, full);
    }
    const std::string local = qvr::requests::local_path(full);
    if (local.empty()) return -1;  // the mapping set the reason
    std::FILE* file = std::fopen(local.c_str(), "rb");
    if (file == nullptr) return platform::fail_from_errno();
    auto& list = thread_list();
    list.file.reset(file);
    list.path = full;
    list.line_number = 0;
    list.last_line.clear();
    return 0;
}

int NextListLine(ListField* fields, int n) {
    if (fields == nullptr || n <= 0) return 0;
    qvr::requests::ListLine line;
    if (!qvr::requests::next_list_line(static_cast<std::size_t>(n), line)) return 0;
    for (std::size_t i = 0; i < line.fields.size(); ++i)
        std::memcpy(fields[i], line.fields[i].c_str(), line.fields[i].size() + 1);  // a field fits a line
    return static_cast<int>(line.fields.size());
}

int CloseListFile() {
    auto& list = thread_list();
    list.file.reset();
    list.path.clear();
    list.line_number = 0;
    list.last_line.clear();
    return 0;
}

std::string ReportListError(const char* message, const char* text) {
    const auto& list = thread_list();
    std::string report = "Can't Parse " + list.path + "\nLine " + std::to_string(list.line_number) +
                         " : **** " + (message != nullptr ? message : "") + " ****\n" +
                         (text != nullptr ? text : "") +
                         "\nError : " + std::to_string(qvr::requests::kListLineInvalid) + "\n";
    sink_Report(nullptr, 1, report.c_str());
    return report;
}
