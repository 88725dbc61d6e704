// Run file names come from folders anyone may fill: any name is walked without reading
// outside it, the parts it finds lie where the walk says, and looking up its companion in an
// empty folder finds nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "../qvr/fuzz_temp_folder.h"
#include "log_stores/text_files/logger_text_files.h"
#include "log_stores/text_files/run_text_name.h"

using namespace log_stores::text_files;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    if (const auto walked = walk_run_name(name)) {
        if (walked->extension_at >= name.size() || name[walked->extension_at] != '.') __builtin_trap();
        if (name.find_first_of("/\\", walked->extension_at) != std::string_view::npos) __builtin_trap();
        if (walked->has_stamp()) {
            const std::size_t stamps = walked->finished ? 2 * kStampLength + 1 : kStampLength;
            if (walked->start_at + stamps != walked->extension_at) __builtin_trap();
            if (!is_stamp(name.substr(walked->start_at, kStampLength))) __builtin_trap();
            if (walked->finished && !is_stamp(name.substr(walked->start_at + kStampLength + 1, kStampLength)))
                __builtin_trap();
        } else if (walked->finished) {
            __builtin_trap();
        }
    }
    static const std::string folder = fuzz_support::process_folder("/tmp/run_text_name.XXXXXX").string();
    std::string leaf(name);
    for (char& c : leaf)
        if (c == '/' || c == '\\' || c == '\0') c = '_';
    if (FindLoggerTextFile(nullptr, folder + "/" + leaf)) __builtin_trap();
    return 0;
}
