// The stand-in's configuration requests on its product tree: "IF" and "GF" read a device's
// channel table, its "config", "saveconfig" and extra file; "HF", "FF" and "CF" write them
// and the loggers' files. Replies have exactly the length the request names. Scripted
// replies of the dispatcher ("-1,5", "-1,1465,<text>") take a handler's place.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"
#include "server/dispatcher.h"
#include "server/product_tree.h"

namespace sim_server {
namespace {

constexpr std::size_t kRecordSize = 216;
constexpr std::size_t kTableHeader = 8;
constexpr std::size_t kSettingsHead = 9;
constexpr std::size_t kChannelsHead = 2;
constexpr std::size_t kAutosaveSize = 6;
constexpr long long kMaxTransfer = 64ll << 20;

std::string with_nul(std::string text) {
    text.push_back('\0');
    return text;
}

std::string failure(int code) {
    return with_nul("-1," + std::to_string(code));
}

// The comma fields of the request text after its code; exactly `count` of them, else none.
std::vector<std::string_view> comma_fields(std::string_view text, std::size_t count) {
    std::vector<std::string_view> out;
    if (text.size() < 3) return out;
    text.remove_prefix(3);
    for (;;) {
        const std::size_t comma = text.find(',');
        out.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    if (out.size() != count) out.clear();
    return out;
}

bool number(std::string_view text, long long& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

bool count_field(std::string_view text, long long& out) {
    return number(text, out) && out >= 0 && out <= kMaxTransfer;
}

// A name field: " " stands for none.
bool absent(std::string_view name) {
    return name.empty() || name == " ";
}

bool plain_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string_view::npos;
}

const char* kind_word(long long kind) {
    static constexpr const char* kWords[] = {"ai", "di", "ao", "do", "ci", "dc", "dc"};
    return kind >= 0 && kind <= 6 ? kWords[kind] : nullptr;
}

// The device's folder of the tree ("" for a name that leaves the configuration folder).
std::string device_folder(const ProductTree& tree, std::string_view device) {
    const std::string config = tree.folder("QVR_CURRENT_CONFIG");
    if (absent(device)) return config;
    return plain_name(device) ? config + "/" + std::string(device) : std::string();
}

// Exactly out.size() bytes at `offset`: 0, or the error a server reports (2 missing, 38 short,
// 5 out of the tree).
int read_exact(const ProductTree& tree, const std::string& path, long long offset, char* out, std::size_t size) {
    if (size == 0) return 0;
    const std::string real = tree.inside(path);
    if (real.empty()) return 5;
    const platform::UniqueFd fd(::open(real.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return errno == ENOENT ? 2 : 5;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd.get(), out + done, size - done, offset + static_cast<long long>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return 30;
        if (n == 0) return 38;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// `data` at `offset` of the file (created when missing; `truncate` empties it first); 5 for a
// file out of the tree.
int write_at(const ProductTree& tree, const std::string& path, long long offset, std::string_view data,
             bool truncate = false) {
    const std::string real = tree.inside(path);
    if (real.empty()) return 5;
    const platform::UniqueFd fd(
        ::open(real.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0666));
    if (!fd) return errno == ENOENT ? 3 : 5;
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::pwrite(fd.get(), data.data() + done, data.size() - done, offset + static_cast<long long>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 112;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

std::string little_endian(uint32_t value, std::size_t bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
    return out;
}

// A table header of now, in local wall-clock seconds as the system stores them.
std::string stamp_now() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct tm local {};
    ::localtime_r(&now.tv_sec, &local);
    const auto seconds = static_cast<uint32_t>(now.tv_sec + local.tm_gmtoff);
    const auto ms = static_cast<uint32_t>(now.tv_nsec / 1000000);
    const auto us = static_cast<uint32_t>(now.tv_nsec / 1000 % 1000);
    return little_endian(seconds, 4) + little_endian(ms, 2) + little_endian(us, 2);
}

std::string answer(std::string body) {
    return "0," + body;
}

std::string read_channels(const ProductTree& tree, std::string_view request) {
    const auto f = comma_fields(request.substr(0, request.find('\0')), 7);
    long long size = 0, first = 0, count = 0, extra = 0, kind = 0;
    if (f.empty() || !count_field(f[0], size) || !count_field(f[2], first) || !count_field(f[3], count) ||
        !count_field(f[4], extra) || !number(f[6], kind) || kind_word(kind) == nullptr ||
        size != count * static_cast<long long>(kRecordSize) + extra + static_cast<long long>(kChannelsHead))
        return failure(87);
    const std::string folder = device_folder(tree, f[1]);
    if (folder.empty() || (extra > 0 && (absent(f[5]) || !plain_name(f[5])))) return failure(87);
    std::string body(static_cast<std::size_t>(count) * kRecordSize + static_cast<std::size_t>(extra), '\0');
    if (int e = read_exact(tree, folder + "/" + kind_word(kind),
                           static_cast<long long>(kTableHeader + first * kRecordSize), body.data(),
                           static_cast<std::size_t>(count) * kRecordSize))
        return failure(e);
    if (int e = read_exact(tree, folder + "/" + std::string(f[5]), 0, body.data() + count * kRecordSize,
                           static_cast<std::size_t>(extra)))
        return failure(e);
    return answer(std::move(body));
}

std::string read_settings(const ProductTree& tree, std::string_view request) {
    const auto f = comma_fields(request.substr(0, request.find('\0')), 9);
    long long size = 0, config = 0, extra = 0;
    if (f.empty() || !count_field(f[0], size) || !count_field(f[2], config) || !count_field(f[3], extra) ||
        size != config + extra + static_cast<long long>(kSettingsHead))
        return failure(87);
    const std::string folder = device_folder(tree, f[1]);
    if (folder.empty() || (extra > 0 && (absent(f[4]) || !plain_name(f[4])))) return failure(87);
    std::string head(kSettingsHead - kChannelsHead, '\0');
    if (f[5] == "1")
        if (int e = read_exact(tree, folder + "/config", 0, head.data(), 1)) return failure(e);
    if (f[6] == "1" || f[7] == "1" || f[8] == "1") {
        std::array<char, kAutosaveSize> autosave{};
        if (int e = read_exact(tree, folder + "/saveconfig", 0, autosave.data(), autosave.size()))
            return failure(e);
        if (f[6] == "1") head[1] = autosave[0];
        if (f[7] == "1") head[2] = autosave[1];
        if (f[8] == "1") std::memcpy(head.data() + 3, autosave.data() + 2, 4);
    }
    std::string body(static_cast<std::size_t>(config + extra), '\0');
    if (int e = read_exact(tree, folder + "/config", 1, body.data(), static_cast<std::size_t>(config)))
        return failure(e);
    if (int e = read_exact(tree, folder + "/" + std::string(f[4]), 0, body.data() + config,
                           static_cast<std::size_t>(extra)))
        return failure(e);
    return answer(head + body);
}

// The data after the request text's NUL, which must be `size` bytes.
bool data_of(std::string_view request, long long size, std::string_view& data) {
    const std::size_t nul = request.find('\0');
    if (nul == std::string_view::npos) return false;
    data = request.substr(nul + 1);
    return static_cast<long long>(data.size()) == size;
}

std::string write_channels(const ProductTree& tree, std::string_view request) {
    const auto f = comma_fields(request.substr(0, request.find('\0')), 9);
    long long size = 0, first = 0, count = 0, extra = 0, kind = 0, mode = 0;
    std::string_view data;
    if (f.empty() || !count_field(f[0], size) || !count_field(f[3], first) || !count_field(f[4], count) ||
        !count_field(f[5], extra) || !number(f[7], kind) || kind_word(kind) == nullptr ||
        !number(f[8], mode) || size != count * static_cast<long long>(kRecordSize) + extra ||
        !data_of(request, size, data))
        return failure(87);
    const std::string folder = device_folder(tree, f[2]);
    if (folder.empty() || (extra > 0 && (absent(f[6]) || !plain_name(f[6])))) return failure(87);
    const std::string table = folder + "/" + kind_word(kind);
    const std::size_t records = static_cast<std::size_t>(count) * kRecordSize;
    if (int e = write_at(tree, table, static_cast<long long>(kTableHeader + first * kRecordSize),
                         data.substr(0, records)))
        return failure(e);
    if (int e = write_at(tree, table, 0, stamp_now())) return failure(e);
    if (extra > 0)
        if (int e = write_at(tree, folder + "/" + std::string(f[6]), 0, data.substr(records))) return failure(e);
    return with_nul("0");
}

// A setting of "FF": " " leaves it as it is.
bool setting(std::string_view text, long long& out) {
    return text != " " && number(text, out);
}

std::string write_settings(const ProductTree& tree, std::string_view request) {
    const auto f = comma_fields(request.substr(0, request.find('\0')), 10);
    long long size = 0, config = 0, extra = 0;
    std::string_view data;
    if (f.empty() || !count_field(f[0], size) || !count_field(f[3], config) || !count_field(f[4], extra) ||
        size != config + extra || !data_of(request, size, data))
        return failure(87);
    const std::string folder = device_folder(tree, f[2]);
    if (folder.empty() || (extra > 0 && (absent(f[5]) || !plain_name(f[5])))) return failure(87);
    const std::string config_file = folder + "/config";
    if (config > 0)
        if (int e = write_at(tree, config_file, 1, data.substr(0, static_cast<std::size_t>(config))))
            return failure(e);
    if (extra > 0)
        if (int e =
                write_at(tree, folder + "/" + std::string(f[5]), 0, data.substr(static_cast<std::size_t>(config))))
            return failure(e);
    long long value = 0;
    if (setting(f[6], value))
        if (int e = write_at(tree, config_file, 0, little_endian(static_cast<uint32_t>(value), 1)))
            return failure(e);
    const std::string autosave = folder + "/saveconfig";
    if (setting(f[7], value))
        if (int e = write_at(tree, autosave, 0, little_endian(static_cast<uint32_t>(value), 1))) return failure(e);
    if (setting(f[8], value))
        if (int e = write_at(tree, autosave, 1, little_endian(static_cast<uint32_t>(value), 1))) return failure(e);
    if (setting(f[9], value))
        if (int e = write_at(tree, autosave, 2, little_endian(static_cast<uint32_t>(value), 4))) return failure(e);
    return with_nul("0");
}

// "CF,<kind>,<number>,<size>,<user>," and the record right after the last comma.
std::string write_logger(const ProductTree& tree, std::string_view request) {
    std::size_t at = 0;
    std::vector<std::string_view> f;
    for (int i = 0; i < 5; ++i) {
        const std::size_t comma = request.find(',', at);
        if (comma == std::string_view::npos) return failure(87);
        if (i > 0) f.push_back(request.substr(at, comma - at));
        at = comma + 1;
    }
    long long number_value = 0, size = 0;
    if (!plain_name(f[0]) || !number(f[1], number_value) || !count_field(f[2], size) ||
        static_cast<long long>(request.size() - at) != size)
        return failure(87);
    const std::string folder = tree.folder("QVR_CURRENT_CONFIG") + "/LOGGERS";
    ::mkdir(folder.c_str(), 0777);
    const std::string path = folder + "/" + std::string(f[0]) + "_" + std::to_string(number_value);
    if (int e = write_at(tree, path, 0, request.substr(at), true)) return failure(e);
    return with_nul("0");
}

}  // namespace

void add_config_handlers(Dispatcher& dispatcher, const ProductTree& tree) {
    dispatcher.set_handler("IF", [&tree](std::string_view r, uint32_t) { return read_channels(tree, r); });
    dispatcher.set_handler("GF", [&tree](std::string_view r, uint32_t) { return read_settings(tree, r); });
    dispatcher.set_handler("HF", [&tree](std::string_view r, uint32_t) { return write_channels(tree, r); });
    dispatcher.set_handler("FF", [&tree](std::string_view r, uint32_t) { return write_settings(tree, r); });
    dispatcher.set_handler("CF", [&tree](std::string_view r, uint32_t) { return write_logger(tree, r); });
}

}  // namespace sim_server
