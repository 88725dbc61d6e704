// A logger's XML file as people and other tools leave it: the first byte picks the kind
// and the caller's size, the rest is the file. Loaded as a reader does, then saved over
// with the audit on, which reads it once more as the old state.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <fstream>

#include "logger_fuzz_folder.h"
#include "qvr/logger_config/logger_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static constexpr const char* kKinds[] = {"stand", "repub", "resub"};
    static constexpr std::int32_t kSizes[] = {32220, 8040, 1480};
    const std::string& dir = logger_fuzz::loggers_folder();
    const unsigned pick = data[0] % 3;
    // Below, at and above the kind's record.
    const std::int32_t record_size = kSizes[pick] + (data[0] / 3 % 3 == 0 ? -100 : data[0] / 3 % 3 == 1 ? 0 : 100);
    const std::string name = std::string(kKinds[pick]) + "_1";
    std::ofstream(dir + "/" + name + ".xml", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));

    std::vector<std::uint8_t> record(static_cast<std::size_t>(record_size), 0xEE);
    (void)cfg_LoadLoggerConfig(dir.c_str(), kKinds[pick], 1, record.data(), record_size);
    audit_SetEnabled(data[0] & 0x80 ? 1 : 0);
    (void)cfg_SaveLoggerConfig(dir.c_str(), "fuzz", kKinds[pick], 1, record.data(), record_size);
    audit_SetEnabled(0);
    return 0;
}
