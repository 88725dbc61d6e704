// Locations come from configuration files and from peers' requests, run names from folders:
// any text is classified and parsed without reading past it, and a cut never grows the text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "log_stores/log_location.h"
#include "log_stores/run_file/run_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)log_stores::GetLocationKind(text.c_str());

    std::string location = text;
    char name[16];
    std::size_t name_size = sizeof name;
    if (log_stores::GetLoggerNameFromLocation(location, &name_size, name) == 1 &&
        (location.size() >= text.size() || name_size > sizeof name))
        __builtin_trap();
    std::int32_t sequence = 0;
    const std::size_t before = location.size();
    if (log_stores::GetLoggerSeqFromLocation(location, sequence) == 1 && location.size() >= before) __builtin_trap();

    std::string table = text;
    log_stores::SanitiseTableName(table);
    (void)log_stores::IsReservedColumnName(text);
    (void)log_stores::CountTextLines(text);

    if (const auto parts = log_stores::run_file::parse_run_name(text)) {
        const std::string again = parts->stop ? log_stores::run_file::finished_run_name(parts->prefix, parts->start, *parts->stop)
                                              : log_stores::run_file::running_run_name(parts->prefix, parts->start);
        const auto reread = log_stores::run_file::parse_run_name(again);
        if (!reread || reread->start != parts->start || reread->stop != parts->stop) __builtin_trap();
    }
    return 0;
}
