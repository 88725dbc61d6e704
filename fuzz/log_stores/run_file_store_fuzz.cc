// The run file store over any bytes: opening, the header, every block's channel
// configurations and a few records read as a logger's reader would, never outside the file
// and never allocating more than the file's records need.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "log_stores/run_file_store/run_file_store.h"
#include "platform/file_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = ::memfd_create("run_file", MFD_CLOEXEC);
    if (fd < 0) return 0;
    const platform::UniqueFd owner(fd);
    if (platform::pwrite_all(fd, std::span(data, size), 0) != 0) return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    log_stores::CLogFileStore store;
    if (store.Open(nullptr, path.c_str(), log_stores::kGenericRead) != 0) return 0;
    log_stores::LogHeader header;
    if (store.ReadHeader(header) != 0) return 0;
    if (header.recordCount < 0 || header.endOfData > static_cast<std::int64_t>(size)) __builtin_trap();

    for (std::size_t k = 0; k < header.blockCount; ++k) {
        const std::size_t n = std::min<std::size_t>(header.blocks[k].channel_count(), 256);
        std::vector<qvr::ChannelRecord> channels(n);
        (void)store.ReadChannelConfig(header, channels.data(), k, 0, n);
    }
    (void)store.ReadChannelConfig(header, nullptr, header.blockCount, 0, 1);

    const int records = store.GetNoLogs(header);
    if (records != header.recordCount) __builtin_trap();
    if (records == 0) return 0;
    // Records exist, so one of them is no larger than the file.
    const auto record_size = static_cast<std::size_t>(header.recordSize);
    if (record_size > size) __builtin_trap();
    constexpr std::int32_t kCount = 4;
    constexpr std::int32_t kExtraSlots = 1;
    std::vector<std::uint8_t> out(kCount * (record_size + 8 * kExtraSlots));
    const int got = store.ReadLogs(std::max(0, records - 2), header, out.data(), kCount, kExtraSlots, nullptr, 0);
    if (got < 0 || got > std::min(kCount, 2)) __builtin_trap();
    (void)store.ReadLog(records - 1, header, out.data(), static_cast<std::int32_t>(record_size), 0, 0, nullptr, 0,
                        false);
    (void)store.GetNoMarkedLogs(header);
    return 0;
}
