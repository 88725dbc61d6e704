// Run names come from folders and from other machines' listings: any name is read without
// reading past it, a stamp found lies inside the name before its extension, and a time read
// from it is written back as the same stamp and never lies before 1970.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "log_stores/run_file_collection/run_stamp.h"
#include "qvr/time/timestamp.h"

namespace {

// The stamp text with '.' read as '_', as the reader takes it.
bool same_stamp(std::string_view text, std::int32_t seconds) {
    std::string expected = time_FileStampText(seconds);
    std::string got(text.substr(0, 13));
    if (got[6] == '.') got[6] = '_';
    return got == expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    for (const std::string_view extension : {std::string_view(".qdl"), std::string_view(".txt")}) {
        const auto stamp = log_stores::read_run_stamp(name, extension);
        if (!stamp) continue;
        if (stamp->at + 12 > name.size() - extension.size()) __builtin_trap();
        const std::string_view text = std::string_view(name).substr(stamp->at, name.size() - extension.size() - stamp->at);
        if (stamp->start == 0 && stamp->stop != 0) __builtin_trap();
        if (stamp->start < 0 || stamp->stop < 0) __builtin_trap();
        if (stamp->start != 0 && !same_stamp(text, stamp->start)) __builtin_trap();
        if (stamp->stop != 0 && (text.size() < 27 || !same_stamp(text.substr(14), stamp->stop))) __builtin_trap();
    }
    if (log_stores::read_stamp_seconds(name) < 0) __builtin_trap();
    return 0;
}
