// Run files come from disks and from other machines: any bytes are read as a run file
// (header, extension block, channel sections, records) without reading outside them, and a
// header that passes the checks keeps every block inside its record.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "log_stores/run_file/run_file_format.h"

using namespace log_stores::run_file;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const ReadAt read_at = [file](std::span<std::uint8_t> out, std::uint64_t offset) -> ssize_t {
        if (offset > file.size()) __builtin_trap();  // the checks keep every read inside the file
        const std::size_t n = std::min<std::size_t>(out.size(), file.size() - offset);
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
        return static_cast<ssize_t>(n);
    };
    (void)check_open_tag(file);
    log_stores::LogHeader header;
    if (read_header(read_at, size, header) != 0) return 0;
    if (header.recordSize < 16 || header.blockCount > 64 || header.dataStart > static_cast<std::int64_t>(size) ||
        header.endOfData > static_cast<std::int64_t>(size) || header.recordCount < 0)
        __builtin_trap();

    std::vector<qvr::ChannelRecord> channels(channel_total(header));
    (void)read_channel_config(read_at, header, channels);

    // recordSize itself is bounded only by the format; a record that is present is bounded
    // by the file.
    if (header.recordCount == 0) return 0;
    const auto record_size = static_cast<std::size_t>(header.recordSize);
    if (record_size > size) __builtin_trap();
    std::vector<std::uint8_t> record(record_size);
    for (std::int32_t i = 0; i < std::min(header.recordCount, 16); ++i) {
        const std::size_t at = static_cast<std::size_t>(header.dataStart) + static_cast<std::size_t>(i) * record_size;
        if (at + record_size > size) __builtin_trap();
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(at), record_size, record.begin());
        (void)decode_record_head(record);
        sanitise_record(record, header);
        for (std::size_t k = 0; k < header.blockCount; ++k) {
            ChannelSample sample;
            const std::uint32_t n = header.blocks[k].channel_count();
            for (std::uint32_t j = 0; j < std::min<std::uint32_t>(n, 64); ++j)
                if (!read_sample(record, header.blocks[k], j, sample)) __builtin_trap();
        }
    }
    return 0;
}
