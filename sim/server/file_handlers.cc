// The stand-in's remote-file requests on its product tree: "UF", "NF", "OF", "BF", "EF" and
// "MF" are only recorded; "SF", "TF", "RF", "WF" and "DF" work on the files.
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/ascii_text.h"
#include "server/dispatcher.h"
#include "server/product_tree.h"

namespace sim_server {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPageSize = 65536;
constexpr uint64_t kSecondsFrom1601 = 11644473600ull;

std::string with_nul(std::string text) {
    text.push_back('\0');
    return text;
}

std::string failure(int code) {
    return with_nul("-1," + std::to_string(code));
}

// The tab fields after the code; the last keeps the rest (WF data).
std::vector<std::string_view> tab_fields(std::string_view request, std::size_t max) {
    std::vector<std::string_view> out;
    if (request.size() < 3) return out;
    std::string_view rest = request.substr(3);
    while (out.size() + 1 < max) {
        const std::size_t tab = rest.find('\t');
        if (tab == std::string_view::npos) break;
        out.push_back(rest.substr(0, tab));
        rest.remove_prefix(tab + 1);
    }
    out.push_back(rest);
    return out;
}

std::string_view text_part(std::string_view field) {
    return field.substr(0, field.find('\0'));
}

bool number(std::string_view text, long long& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// "KEY\rest" (either separator) as a file of the tree, symbolic links resolved: 0, or 3 for
// no such key, 5 for a path that is absolute or leads out of the tree.
int local_path(const ProductTree& tree, std::string_view path, std::string& out) {
    out.clear();
    if (!path.empty() && (path.front() == '\\' || path.front() == '/')) return 5;
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\' || c == '/') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    if (parts.empty()) return 3;
    std::string lexical = tree.folder(platform::ascii_upper_copy(parts[0]));
    if (lexical.empty()) return 3;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (parts[i] == "..") return 5;
        lexical += "/" + parts[i];
    }
    out = tree.inside(lexical);
    return out.empty() ? 5 : 0;
}

// A "WF" carries exactly its byte count of data; older clients follow it with a NUL.
bool write_data_ok(std::string_view data, long long count) {
    const auto n = static_cast<std::size_t>(count);
    return data.size() == n || (data.size() == n + 1 && data.back() == '\0');
}

uint64_t file_time(const struct timespec& t) {
    return (static_cast<uint64_t>(t.tv_sec) + kSecondsFrom1601) * 10000000ull +
           static_cast<uint64_t>(t.tv_nsec) / 100;
}

// Opens (disposition 2 always anew, 3 existing, 4 always) and positions a file for a read or
// write.
bool open_at(const std::string& path, long long disposition, bool write, long long offset, long long method,
             std::fstream& file, int& error) {
    std::error_code ec;
    if (write && disposition == 2) {
        std::ofstream create(path, std::ios::binary | std::ios::trunc);
        if (!create) {
            error = 3;
            return false;
        }
    } else if (!fs::exists(path, ec)) {
        if (disposition != 4 || !write) {
            error = 2;
            return false;
        }
        std::ofstream create(path, std::ios::binary);
        if (!create) {
            error = 3;
            return false;
        }
    }
    file.open(path, std::ios::binary | std::ios::in | (write ? std::ios::out : std::ios::openmode{}));
    if (!file) {
        error = 5;
        return false;
    }
    if (offset != -1) {
        const auto from = method == 2 ? std::ios::end : std::ios::beg;
        if (write)
            file.seekp(offset, from);
        else
            file.seekg(offset, from);
    }
    return true;
}

void add_recorded(Dispatcher& dispatcher) {
    for (const char* code : {"UF", "NF", "OF", "BF", "EF"})
        dispatcher.set_handler(code, [](std::string_view, uint32_t) { return with_nul("1"); });
    dispatcher.set_handler("MF", [](std::string_view request, uint32_t) {
        const auto f = tab_fields(text_part(request), 2);
        return with_nul("1," + std::string(f.size() > 1 ? f[1] : std::string_view()));
    });
}

}  // namespace

void add_file_handlers(Dispatcher& dispatcher, const ProductTree& tree) {
    add_recorded(dispatcher);
    dispatcher.set_handler("SF", [&tree](std::string_view request, uint32_t) {
        const auto f = tab_fields(text_part(request), 6);
        long long disposition = 0;
        if (f.size() != 6 || !number(f[4], disposition)) return failure(87);
        std::string path;
        if (const int e = local_path(tree, f[0], path)) return failure(e);
        std::error_code ec;
        if (!fs::exists(path, ec)) {
            if (disposition != 4) return failure(2);
            std::ofstream create(path, std::ios::binary);
            if (!create) return failure(3);
        }
        return with_nul(std::to_string(fs::file_size(path, ec)));
    });
    dispatcher.set_handler("TF", [&tree](std::string_view request, uint32_t) {
        std::string path;
        if (const int e = local_path(tree, text_part(request).substr(3), path)) return failure(e);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return failure(2);
        std::string reply = "1,";
        for (const struct timespec* t : {&st.st_mtim, &st.st_atim, &st.st_mtim}) {
            const uint64_t ticks = file_time(*t);
            reply += std::to_string(static_cast<int32_t>(ticks >> 32)) + "," +
                     std::to_string(static_cast<int32_t>(ticks & 0xFFFFFFFFu)) + ",";
        }
        reply.pop_back();
        return with_nul(reply);
    });
    dispatcher.set_handler("RF", [&tree](std::string_view request, uint32_t) {
        const auto f = tab_fields(text_part(request), 9);
        long long bytes = 0, offset = 0, method = 0, disposition = 0;
        if (f.size() != 9 || !number(f[1], bytes) || !number(f[2], offset) || !number(f[3], method) ||
            !number(f[7], disposition) || bytes < 0 || bytes > 65512)
            return failure(87);
        std::string path;
        if (const int e = local_path(tree, f[0], path)) return failure(e);
        std::fstream file;
        int error = 0;
        if (!open_at(path, disposition, false, offset, method, file, error)) return failure(error);
        std::string data(static_cast<std::size_t>(bytes), '\0');
        file.read(data.data(), bytes);
        const auto got = file.gcount();
        return with_nul("1," + data + "," + std::to_string(got));
    });
    dispatcher.set_handler("WF", [&tree](std::string_view request, uint32_t) {
        const auto f = tab_fields(request, 10);
        long long count = 0, offset = 0, method = 0, disposition = 0;
        if (f.size() != 10 || !number(f[1], count) || !number(f[2], offset) || !number(f[3], method) ||
            !number(f[7], disposition) || count < 0 || !write_data_ok(f[9], count))
            return failure(87);
        std::string path;
        if (const int e = local_path(tree, f[0], path)) return failure(e);
        std::fstream file;
        int error = 0;
        if (!open_at(path, disposition, true, offset, method, file, error)) return failure(error);
        file.write(f[9].data(), count);
        return file ? with_nul("1") : failure(112);
    });
    dispatcher.set_handler("DF", [&tree](std::string_view request, uint32_t capacity) {
        const auto f = tab_fields(text_part(request), 3);
        long long index = 0;
        if (f.size() != 3 || !number(f[2], index) || index < 0) return failure(87);
        std::string folder;
        if (const int e = local_path(tree, f[0], folder)) return failure(e);
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) return failure(3);
        std::string pattern(f[1]);
        if (pattern.empty() || pattern == "*.*") pattern = "*";
        std::vector<std::string> names;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        const std::size_t page = capacity != 0 && capacity < kPageSize ? capacity : kPageSize;
        std::string reply = "0,";
        bool first = true;
        std::size_t i = static_cast<std::size_t>(index);
        for (; i < names.size(); ++i) {
            const std::size_t grown = reply.size() + (first ? 0 : 1) + names[i].size();
            if (grown + 1 > page) break;
            if (!first) reply += ',';
            reply += names[i];
            first = false;
        }
        // The client takes a page as the last one when its text and 256 fit the page: a page
        // that stopped early must be longer than that, so its leading number is padded.
        constexpr std::size_t kFullPage = kPageSize - 256 + 1;
        if (i < names.size() && page == kPageSize && reply.size() < kFullPage)
            reply.insert(0, kFullPage - reply.size(), '0');
        return with_nul(reply);
    });
}

}  // namespace sim_server
