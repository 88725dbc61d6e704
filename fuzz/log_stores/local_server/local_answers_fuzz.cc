// The local data server's answers to any request: every code with arbitrary fields (missing,
// huge lists, long tokens, non-digits, handles never registered) and reply capacities from
// none to large, on a small folder of runs made once per process. Nothing may be written past
// the capacity, and the length given back must lie inside it.
//
// Input: byte 0 picks the code, byte 1 the capacity, the rest is the text after "<code>,".
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/runtime_host.h"
#include "log_stores/local_server/local_data_server.h"
#include "logger/stand_in_logger.h"
#include "platform/last_error.h"

namespace {

constexpr std::int32_t kStart = 1'709'632'800;

// The data folder, removed when the process ends.
struct Folder {
    std::filesystem::path root;
    std::string data;
    Folder() {
        char pattern[] = "/tmp/local_answers_fuzz.XXXXXX";
        if (::mkdtemp(pattern) == nullptr) std::abort();
        root = pattern;
        data = (root / "LOGGED_DATA" / "PLANT").string();
        std::filesystem::create_directories(data);
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};

sim_logger::LoggerOptions options_for(const std::string& folder) {
    sim_logger::LoggerOptions o;
    o.location = folder;
    o.logger = "PLANT";
    o.prefix = "PLANT_";
    const auto channels = [](const std::string& stem, int first, int last, bool digital) {
        std::vector<qvr::ChannelRecord> records;
        for (int i = first; i <= last; ++i)
            records.push_back(digital ? sim_host::digital_input(stem + std::to_string(i))
                                      : sim_host::analog_input(stem + std::to_string(i)));
        return records;
    };
    o.blocks = {{"AI", 1, 4, false, channels("AI", 1, 4, false)},
                {"AI", 5, 8, false, channels("AI", 5, 8, false)},
                {"DI", 1, 4, true, channels("DI", 1, 4, true)}};
    o.header_text = "[HEADER]\r\nPLANT\r\n";
    return o;
}

log_stores::local::LocalDataServer* server() {
    static Folder folder;
    static sim_logger::StandInLogger logger;
    static std::unique_ptr<log_stores::local::LocalDataServer> handler = [] {
        const auto check = [](int rc, const char* step) {
            if (rc == 0) return;
            std::fprintf(stderr, "local_answers fixture: %s failed, error %d\n", step,
                         platform::last_error());
            std::abort();
        };
        check(logger.open(options_for(folder.data)), "open");
        check(logger.start_run(kStart), "start_run");
        check(logger.append(5, 5), "append");
        check(logger.finish_run(kStart + 10), "finish_run");
        check(logger.start_run(kStart + 3600), "start_run");
        check(logger.append(5, 5), "append");
        auto made = std::make_unique<log_stores::local::LocalDataServer>();
        check(made->Open(folder.data.c_str()), "Open");
        return made;
    }();
    return handler.get();
}

constexpr std::array<const char*, 30> kCodes = {
    "TS", "QE", "QP", "IP", "TP", "CV", "RV", "TC", "RS", "BS", "ES", "DS", "WS", "PS", "FS",
    "XS", "MS", "IS", "NS", "5S", "6S", "7S", "8S", "cv", "rv", "ip", "ZZ", "",   "C",  "RVX",
};
constexpr std::array<std::uint32_t, 8> kCapacities = {0, 1, 6, 7, 12, 200, 4096, 32'768};
constexpr std::size_t kGuard = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    log_stores::local::LocalDataServer* handler = server();
    std::string request = kCodes[data[0] % kCodes.size()];
    if ((data[0] & 0x80) == 0) request += ',';
    request.append(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::uint32_t capacity =
        data[1] < 0xF0 ? kCapacities[data[1] % kCapacities.size()] : data[1] - 0xF0u;

    std::vector<char> reply(capacity + kGuard, '\x5A');
    std::uint32_t length = capacity;
    const int result = handler->HandleRequest(request.data(), static_cast<std::uint32_t>(request.size()),
                                              capacity == 0 ? nullptr : reply.data(), &length);
    if (result != 0 && result != 1) __builtin_trap();
    if (length > capacity) __builtin_trap();
    if (result == 0 && length != 0) __builtin_trap();
    for (std::size_t i = capacity; i < reply.size(); ++i)
        if (reply[i] != '\x5A') __builtin_trap();
    return 0;
}
