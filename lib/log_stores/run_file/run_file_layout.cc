#include "log_stores/run_file/run_file_layout.h"

#include <limits>

#include "log_stores/run_file/run_file_format.h"
#include "platform/last_error.h"

namespace log_stores::run_file {

int lay_out_header(LogHeader& header) {
    if (header.blockCount > kMaxBlocks) return platform::fail(platform::kErrorInvalidParameter);
    std::uint64_t record_size = kRecordHeadSize;
    std::uint64_t sections = kHeaderSize;
    for (std::size_t k = 0; k < header.blockCount; ++k) {
        BlockDescriptor& block = header.blocks[k];
        if (block.lastChannel < block.firstChannel || record_size > std::numeric_limits<std::uint16_t>::max())
            return platform::fail(platform::kErrorInvalidParameter);
        block.recordOffset = static_cast<std::uint16_t>(record_size);
        record_size += std::uint64_t{block.channel_count()} * kSampleSize;
        sections += section_size(block);
    }
    const std::uint64_t data_start = sections + kExtensionSize;
    if (data_start > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return platform::fail(platform::kErrorInvalidParameter);
    header.formatTag = kNewFormatTag;
    header.recordSize = static_cast<std::int32_t>(record_size);
    header.extendedOffset = static_cast<std::int32_t>(sections);
    header.extendedLength = static_cast<std::int32_t>(kExtensionSize);
    header.dataStart = static_cast<std::int32_t>(data_start);
    header.endOfData = header.dataStart;
    header.recordCount = 0;
    return 0;
}

int lay_out_header(LogHeader& header, const std::string& zone) {
    header.timeZone = zone.empty() ? platform::local_time_zone_information() : platform::time_zone_information_for(zone);
    return lay_out_header(header);
}

}  // namespace log_stores::run_file
