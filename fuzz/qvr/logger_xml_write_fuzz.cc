// A standard logger record of arbitrary bytes (hostile password counts, texts without a
// terminating zero, any byte anywhere) written as XML and read back.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "logger_fuzz_folder.h"
#include "qvr/logger_config/logger_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& dir = logger_fuzz::loggers_folder();
    std::vector<std::uint8_t> record(32220, 0);
    if (size != 0) std::memcpy(record.data(), data, std::min(size, record.size()));
    // The caller's size as given: short, whole or beyond the record.
    const auto given = static_cast<std::int32_t>(std::min<std::size_t>(size, record.size()));
    (void)cfg_WriteLoggerXml(dir.c_str(), "fuzz", "stand", 1, record.data(), given);
    std::vector<std::uint8_t> back(32220, 0);
    (void)cfg_LoadLoggerConfig(dir.c_str(), "stand", 1, back.data(), 32220);
    return 0;
}
