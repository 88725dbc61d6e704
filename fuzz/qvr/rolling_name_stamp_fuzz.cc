// Folder entries are whatever people and other programs leave in the recording folder: read
// the start stamp after a prefix and the last stamp before a suffix of any name. The first
// byte splits the input into prefix or suffix and name.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "qvr/rolling/rolling_names.h"
#include "qvr/time/timestamp.h"

namespace {

// A stamp that was read is the one the name holds, written back exactly.
void check(std::string_view stamp_text, const std::optional<int64_t>& seconds) {
    if (!seconds) return;
    if (*seconds < 0 || *seconds > UINT32_MAX) __builtin_trap();
    if (std::string_view(time_FileStampText(static_cast<int32_t>(static_cast<uint32_t>(*seconds)))) != stamp_text)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t split = data[0] % (input.size() + 1);
    const std::string_view affix = std::string_view(input).substr(0, split);
    const std::string_view name = std::string_view(input).substr(split);
    using qvr::rolling::kStampLength;

    const auto start = qvr::rolling::start_stamp(name, affix);
    if (start) check(name.substr(affix.size(), kStampLength), start);
    const auto last = qvr::rolling::last_stamp(name, affix);
    if (last) check(name.substr(name.size() - affix.size() - kStampLength, kStampLength), last);
    check(name.substr(0, kStampLength), qvr::rolling::stamp_seconds(name.substr(0, kStampLength)));
    (void)qvr::rolling::name_form(name, affix, affix);
    return 0;
}
