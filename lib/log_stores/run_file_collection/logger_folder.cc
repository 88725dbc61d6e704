#include "log_stores/run_file_collection/logger_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <string_view>

#include "log_stores/run_file_collection/country_table.h"
#include "platform/file_paths.h"
#include "platform/last_error.h"
#include "platform/remote_path.h"
#include "qvr/settings/env.h"

namespace log_stores {
namespace {

constexpr unsigned kFolderMode = 0777;  // less the umask, as every folder of the product

bool is_separator(char c) { return c == '\\' || c == '/'; }

std::string with_slashes(std::string text) {
    for (char& c : text)
        if (c == '\\') c = '/';
    return text;
}

bool is_folder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "\\machine\share\rest": the machine and what its server calls the folder. The share of a
// product's machine is a product folder key ("QVR_LOGGED_DATA"), which its server's file
// requests take as the first component; a drive ("\\machine\C:\...") is passed on as it is.
bool split_remote(std::string_view text, LoggerFolder& out) {
    const std::size_t machine_end = text.find_first_of("\\/", 2);
    if (machine_end == 2) return false;
    out.machine = std::string(text.substr(2, machine_end == std::string_view::npos ? text.npos : machine_end - 2));
    if (machine_end == std::string_view::npos) {
        out.walk_from = text.size();
        return true;
    }
    std::string_view rest = text.substr(machine_end + 1);
    const bool drive = rest.size() >= 2 && rest[1] == ':';
    const std::size_t share_end = drive ? std::string_view::npos : rest.find_first_of("\\/");
    out.walk_from = drive ? machine_end : (share_end == std::string_view::npos ? text.size() : machine_end + 1 + share_end);
    std::string folder(rest);
    for (char& c : folder)
        if (c == '/') c = '\\';
    out.server_folder = std::move(folder);
    return true;
}

// Every place where "/<name>/" stands in `path` from `from` on; npos when nowhere.
std::size_t find_anchor(const std::string& path, std::size_t from, std::string_view name) {
    const std::string needle = "/" + std::string(name) + "/";
    return path.find(needle, from);
}

// The Windows-1252 name in UTF-8 (its letters above 0x7F are Latin-1 ones).
std::string utf8_of_latin(std::string_view name) {
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

std::size_t anchor_position(const std::string& path, std::size_t from, bool rimvale) {
    if (!rimvale) {
        for (const Country& country : country_table()) {
            if (country.name == nullptr) break;
            std::size_t at = find_anchor(path, from, country.name);
            if (at == std::string::npos) {
                const std::string utf8 = utf8_of_latin(country.name);
                if (utf8 != country.name) at = find_anchor(path, from, utf8);
            }
            if (at != std::string::npos) return at;
        }
    }
    return find_anchor(path, from, "LOGGED_DATA");
}

int make_folder(const std::string& path) {
    if (platform::make_directory(path, kFolderMode) == 0) return 0;
    if (errno != EEXIST) return -1;
    if (is_folder(path)) return 0;
    errno = ENOTDIR;
    return -1;
}

}  // namespace

int resolve_folder_text(std::string_view text, LoggerFolder& out, std::string& error) {
    out = LoggerFolder{};
    if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\') {
        if (!split_remote(text, out)) {
            error = "Folder " + std::string(text) + " names no machine";
            return platform::fail(platform::kErrorPathNotFound);
        }
        out.folder = std::string(text);
        out.remote_form = true;
        return 0;
    }
    if (text.size() >= 2 && text[1] == ':') {
        error = "Folder " + std::string(text) + " is a drive path, which names nothing on this system";
        return platform::fail(platform::kErrorPathNotFound);
    }
    if (text.size() > 2 && !is_separator(text[0])) {
        const std::size_t end = text.find_first_of("\\/", 2);
        const std::string key(text.substr(0, end));
        const char* product_folder = env_GetProductFolder(key.c_str());
        if (product_folder == nullptr) {
            error = "Folder " + std::string(text) + " names no product folder";
            return platform::fail(platform::kErrorPathNotFound);
        }
        out = local_folder(std::string(product_folder) +
                           std::string(end == std::string_view::npos ? std::string_view() : text.substr(end)));
        return 0;
    }
    out = local_folder(std::string(text));
    return 0;
}

LoggerFolder local_folder(std::string folder) {
    LoggerFolder out;
    out.folder = with_slashes(std::move(folder));
    while (out.folder.size() > 1 && out.folder.back() == '/') out.folder.pop_back();
    return out;
}

std::string path_in_folder(const LoggerFolder& folder, std::string_view name) {
    return folder.folder + (folder.remote_form ? "\\" : "/") + std::string(name);
}

int local_path(const std::string& path, std::string& local) {
    if (platform::is_remote_path(path)) return platform::map_remote_path(path, local);
    local = with_slashes(path);
    return 0;
}

int create_logger_folder(const std::string& path_text, std::size_t from, bool rimvale) {
    std::string path = path_text;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (make_folder(path) == 0) return 0;
    if (errno != ENOENT) return -1;
    const std::size_t anchor = anchor_position(path, from, rimvale);
    // Each component ends at the next '/' or at the end of the path.
    std::size_t begin = path.find('/', from);
    if (begin == std::string::npos) begin = from;
    while (begin < path.size()) {
        std::size_t end = path.find('/', begin + 1);
        const bool last = end == std::string::npos;
        if (last) end = path.size();
        if (end > begin + 1) {
            const std::string upto = path.substr(0, end);
            if (!is_folder(upto)) {
                const bool must_exist = !last && (anchor == std::string::npos || end <= anchor);
                if (must_exist) {
                    errno = ENOENT;
                    return -1;
                }
                if (make_folder(upto) != 0) return -1;
            }
        }
        begin = end;
    }
    return 0;
}

}  // namespace log_stores
