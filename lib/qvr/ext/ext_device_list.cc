// Device list files: the thread's open list and the reader under it.
#include "qvr/ext/ext_device_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "platform/remote_path.h"

namespace qvr::ext {
namespace {

bool skipped(const std::string& line) {
    size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos || line[first] == '*';
}

}  // namespace

int DeviceListReader::open(const std::string& path) {
    close();
    std::string p;
    if (platform::path_to_open(path, p) != 0) return -1;
    for (char& c : p)
        if (c == '\\') c = '/';
    file_ = std::fopen(p.c_str(), "rb");
    if (file_ == nullptr) return platform::fail_from_errno();
    int count = 0;
    while (next_line()) ++count;
    return count;
}

void DeviceListReader::close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    line_.clear();
}

bool DeviceListReader::read_physical(std::string& out) {
    out.clear();
    int c = std::getc(file_);
    if (c == EOF) return false;
    // The rest of an over-long line is dropped, never read as an entry of its own.
    for (; c != EOF && c != '\n'; c = std::getc(file_))
        if (out.size() < kDeviceListLineMax) out.push_back(static_cast<char>(c));
    while (!out.empty() && (out.back() == '\r' || out.back() == '\n')) out.pop_back();
    return true;
}

bool DeviceListReader::next_line() {
    if (file_ == nullptr) return false;
    std::string candidate;
    while (read_physical(candidate)) {
        if (skipped(candidate)) continue;
        line_ = candidate;
        return true;
    }
    std::rewind(file_);
    line_.clear();
    return false;
}

std::vector<std::string> DeviceListReader::fields(std::size_t capacity) const {
    std::vector<std::string> out;
    size_t start = 0;
    while (out.size() < capacity) {
        size_t comma = line_.find(',', start);
        out.push_back(line_.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

std::string find_file_any_case(const std::string& folder, const std::string& name) {
    std::string exact = folder + "/" + name;
    std::string local_exact, local_folder;
    if (platform::path_to_open(exact, local_exact) != 0 || platform::path_to_open(folder, local_folder) != 0)
        return {};
    struct stat st {};
    if (::stat(local_exact.c_str(), &st) == 0) return exact;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(local_folder.c_str()), ::closedir);
    if (!dir) return {};
    while (dirent* entry = ::readdir(dir.get()))
        if (platform::equal_ignoring_case(entry->d_name, name.c_str())) return folder + "/" + entry->d_name;
    return {};
}

}  // namespace qvr::ext

namespace {

qvr::ext::DeviceListReader& thread_list() {
    thread_local qvr::ext::DeviceListReader list;
    return list;
}

}  // namespace

int ext_OpenDeviceList(const char* path) {
    if (path == nullptr) return platform::fail(platform::kErrorInvalidParameter);
    return thread_list().open(path);
}

int ext_ReadDeviceListLine() {
    return thread_list().next_line() ? 1 : 0;
}

const char* ext_DeviceListLine() {
    return thread_list().line().c_str();
}

int ext_NextDeviceListEntry(DeviceListField* fields, int capacity) {
    if (fields == nullptr || capacity <= 0 || !thread_list().next_line()) return 0;
    std::vector<std::string> split = thread_list().fields(static_cast<std::size_t>(capacity));
    for (size_t i = 0; i < split.size(); ++i) {
        // A field is at most a line long, so it always fits.
        std::memcpy(fields[i], split[i].c_str(), split[i].size() + 1);
    }
    return static_cast<int>(split.size());
}

void ext_CloseDeviceList() {
    thread_list().close();
}
