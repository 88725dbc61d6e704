#include "log_stores/run_file/run_file_format.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "log_stores/run_file/le_bytes.h"
#include "platform/last_error.h"

namespace log_stores::run_file {
namespace {

constexpr std::uint64_t kMaxOffset = std::numeric_limits<std::int32_t>::max();

void put_chars(std::span<std::uint8_t> b, std::size_t at, const std::array<char, 2>& chars) {
    b[at] = static_cast<std::uint8_t>(chars[0]);
    b[at + 1] = static_cast<std::uint8_t>(chars[1]);
}

std::array<char, 2> chars(std::span<const std::uint8_t> b, std::size_t at) {
    return {static_cast<char>(b[at]), static_cast<char>(b[at + 1])};
}

void put_time(std::span<std::uint8_t> b, std::size_t at, const TimeStamp& t) {
    le::put_i32(b, at, t.seconds);
    le::put_i16(b, at + 4, t.milliseconds);
    le::put_i16(b, at + 6, t.microseconds);
}

TimeStamp time_at(std::span<const std::uint8_t> b, std::size_t at) {
    return TimeStamp{le::i32(b, at), le::i16(b, at + 4), le::i16(b, at + 6)};
}

std::size_t used_blocks(const LogHeader& header) { return std::min<std::size_t>(header.blockCount, kMaxBlocks); }

// The part of the extension block a reader takes; 0 when there is none.
std::uint64_t extension_read_size(const LogHeader& header) {
    if (header.extendedLength <= 0) return 0;
    return std::min<std::uint64_t>(static_cast<std::uint64_t>(header.extendedLength), kExtensionSize);
}

std::uint64_t sections_end(const LogHeader& header) {
    return header.blockCount == 0 ? kHeaderSize : section_offset(header, used_blocks(header));
}

bool read_exactly(const ReadAt& read_at, std::span<std::uint8_t> out, std::uint64_t offset) {
    const ssize_t got = read_at(out, offset);
    if (got < 0) return false;
    if (static_cast<std::size_t>(got) != out.size()) {
        platform::set_last_error(platform::kErrorInvalidData);
        return false;
    }
    return true;
}

}  // namespace

void encode_block(const BlockDescriptor& block, std::span<std::uint8_t, kBlockDescriptorSize> out) {
    put_chars(out, 0, block.prefix);
    le::put_u16(out, 2, block.firstChannel);
    le::put_u16(out, 4, block.lastChannel);
    le::put_u16(out, 6, block.blockKind);
    le::put_u16(out, 8, block.recordOffset);
    std::copy(block.carried.begin(), block.carried.end(), out.begin() + 10);
}

BlockDescriptor decode_block(std::span<const std::uint8_t, kBlockDescriptorSize> in) {
    BlockDescriptor block;
    block.prefix = chars(in, 0);
    block.firstChannel = le::u16(in, 2);
    block.lastChannel = le::u16(in, 4);
    block.blockKind = le::u16(in, 6);
    block.recordOffset = le::u16(in, 8);
    std::copy_n(in.begin() + 10, kBlockCarriedSize, block.carried.begin());
    return block;
}

void encode_header(const LogHeader& h, std::span<std::uint8_t, kHeaderSize> out) {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    le::put_i32(out, kHdrEndOfData, h.endOfData);
    le::put_u16(out, kHdrFormatTag, h.formatTag);
    le::put_u16(out, kHdrBlockCount, std::min<std::uint16_t>(h.blockCount, kHeaderBlocks));
    le::put_i32(out, kHdrRecordCount, h.recordCount);
    put_time(out, kHdrStart, h.start);
    put_time(out, kHdrStop, h.stop);
    le::put_i32(out, kHdrDataStart, h.dataStart);
    le::put_i32(out, kHdrRecordSize, h.recordSize);
    for (std::size_t k = 0; k < kHeaderBlocks; ++k)
        encode_block(h.blocks[k], out.subspan(kHdrBlocks + k * kBlockDescriptorSize).first<kBlockDescriptorSize>());
    out[kHdrTagColumns] = h.tagColumns;
    out[kHdrSigChange] = h.sigChange;
    put_chars(out, kHdrTriggerPrefix, h.triggerPrefix);
    le::put_i16(out, kHdrTriggerNumber, h.triggerNumber);
    put_chars(out, kHdrLagPrefix, h.lagPrefix);
    le::put_i16(out, kHdrLagNumber, h.lagNumber);
    std::copy(h.carried8.begin(), h.carried8.end(), out.begin() + kHdrCarried8);
    le::put_i32(out, kHdrCarried32, h.carried32);
    le::put_i16(out, kHdrCarried16, h.carried16);
    le::put_i32(out, kHdrExtendedLength, h.extendedLength);
    le::put_i32(out, kHdrExtendedOffset, h.extendedOffset);
}

LogHeader decode_header(std::span<const std::uint8_t, kHeaderSize> in) {
    LogHeader h;
    h.endOfData = le::i32(in, kHdrEndOfData);
    h.formatTag = le::u16(in, kHdrFormatTag);
    h.blockCount = le::u16(in, kHdrBlockCount);
    h.recordCount = le::i32(in, kHdrRecordCount);
    h.start = time_at(in, kHdrStart);
    h.stop = time_at(in, kHdrStop);
    h.dataStart = le::i32(in, kHdrDataStart);
    h.recordSize = le::i32(in, kHdrRecordSize);
    for (std::size_t k = 0; k < kHeaderBlocks; ++k)
        h.blocks[k] = decode_block(in.subspan(kHdrBlocks + k * kBlockDescriptorSize).first<kBlockDescriptorSize>());
    h.tagColumns = in[kHdrTagColumns];
    h.sigChange = in[kHdrSigChange];
    h.triggerPrefix = chars(in, kHdrTriggerPrefix);
    h.triggerNumber = le::i16(in, kHdrTriggerNumber);
    h.lagPrefix = chars(in, kHdrLagPrefix);
    h.lagNumber = le::i16(in, kHdrLagNumber);
    std::copy_n(in.begin() + kHdrCarried8, h.carried8.size(), h.carried8.begin());
    h.carried32 = le::i32(in, kHdrCarried32);
    h.carried16 = le::i16(in, kHdrCarried16);
    h.extendedLength = le::i32(in, kHdrExtendedLength);
    h.extendedOffset = le::i32(in, kHdrExtendedOffset);
    return h;
}

void encode_extension(const LogHeader& h, std::span<std::uint8_t, kExtensionSize> out) {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    le::put_u16(out, kExtBlockCount, h.blockCount);
    for (std::size_t k = 0; k < kMaxBlocks; ++k)
        encode_block(h.blocks[k], out.subspan(kExtBlocks + k * kBlockDescriptorSize).first<kBlockDescriptorSize>());
    std::copy(h.timeZone.begin(), h.timeZone.end(), out.begin() + kExtTimeZone);
}

void decode_extension(std::span<const std::uint8_t> in, LogHeader& h) {
    std::array<std::uint8_t, kExtensionSize> block{};
    std::copy_n(in.begin(), std::min(in.size(), kExtensionSize), block.begin());
    const std::span<const std::uint8_t, kExtensionSize> b(block);
    h.blockCount = le::u16(b, kExtBlockCount);
    for (std::size_t k = 0; k < kMaxBlocks; ++k)
        h.blocks[k] = decode_block(b.subspan(kExtBlocks + k * kBlockDescriptorSize).first<kBlockDescriptorSize>());
    std::copy_n(b.begin() + kExtTimeZone, h.timeZone.size(), h.timeZone.begin());
}

TagCheck check_open_tag(std::span<const std::uint8_t> first_bytes) {
    if (first_bytes.size() < 6) return TagCheck::Refused;
    std::uint16_t tag = le::u16(first_bytes, kHdrFormatTag);
    TagCheck accepted = TagCheck::Accepted;
    if (tag >= 384 && tag <= 480) {
        tag = static_cast<std::uint16_t>((tag >> 8) | (tag << 8));
        accepted = TagCheck::Swapped;
    }
    return tag >= kLowestFormatTag && tag <= kHighestFormatTag ? accepted : TagCheck::Refused;
}

std::uint64_t section_size(const BlockDescriptor& block) {
    return std::uint64_t{block.channel_count()} * qvr::kChannelRecordSize + 4;
}

std::uint64_t section_offset(const LogHeader& header, std::size_t block_index) {
    std::uint64_t at = kHeaderSize;
    for (std::size_t k = 0; k < std::min(block_index, kMaxBlocks); ++k) at += section_size(header.blocks[k]);
    return at;
}

std::uint64_t channel_config_offset(const LogHeader& header, std::size_t block_index, std::uint32_t j) {
    return section_offset(header, block_index) + 2 + std::uint64_t{j} * qvr::kChannelRecordSize;
}

std::size_t channel_total(const LogHeader& header) {
    std::size_t total = 0;
    for (std::size_t k = 0; k < used_blocks(header); ++k) total += header.blocks[k].channel_count();
    return total;
}

int encode_section(std::span<const qvr::ChannelRecord> channels, std::span<std::uint8_t> out) {
    if (out.size() != channels.size() * qvr::kChannelRecordSize + 4) return platform::fail(platform::kErrorInvalidParameter);
    le::put_u16(out, 0, kSectionBegin);
    std::size_t at = 2;
    for (const qvr::ChannelRecord& channel : channels) {
        std::copy(std::begin(channel.bytes), std::end(channel.bytes), out.begin() + at);
        at += qvr::kChannelRecordSize;
    }
    le::put_u16(out, at, kSectionEnd);
    return 0;
}

int decode_section(std::span<const std::uint8_t> in, std::span<qvr::ChannelRecord> channels) {
    if (in.size() != channels.size() * qvr::kChannelRecordSize + 4 || le::u16(in, 0) != kSectionBegin ||
        le::u16(in, in.size() - 2) != kSectionEnd)
        return platform::fail(platform::kErrorInvalidData);
    std::size_t at = 2;
    for (qvr::ChannelRecord& channel : channels) {
        std::copy_n(in.begin() + at, qvr::kChannelRecordSize, std::begin(channel.bytes));
        at += qvr::kChannelRecordSize;
    }
    return 0;
}

int check_header(const LogHeader& h, std::uint64_t file_size) {
    const auto refuse = [] { return platform::fail(platform::kErrorInvalidData); };
    if (h.formatTag < kLowestFormatTag || h.formatTag > kHighestFormatTag) return refuse();
    if (h.recordSize < static_cast<std::int32_t>(kRecordHeadSize)) return refuse();
    if (h.blockCount > kMaxBlocks) return refuse();
    // Without an extension block only the header's 16 descriptors exist.
    if (h.extendedLength == 0 && h.blockCount > kHeaderBlocks) return refuse();
    if (h.extendedLength < 0 || h.extendedOffset < 0 || h.dataStart < 0) return refuse();
    const auto record_size = static_cast<std::uint64_t>(h.recordSize);
    for (std::size_t k = 0; k < h.blockCount; ++k) {
        const BlockDescriptor& block = h.blocks[k];
        if (block.firstChannel > block.lastChannel) return refuse();
        if (block.recordOffset < kRecordHeadSize) return refuse();
        if (block.recordOffset + std::uint64_t{block.channel_count()} * kSampleSize > record_size) return refuse();
    }
    std::uint64_t behind = sections_end(h);
    if (behind > file_size) return refuse();
    if (const std::uint64_t extension = extension_read_size(h); extension != 0) {
        const auto offset = static_cast<std::uint64_t>(h.extendedOffset);
        if (offset < behind || offset + extension > file_size) return refuse();
        behind = offset + extension;
    }
    const auto data_start = static_cast<std::uint64_t>(h.dataStart);
    if (data_start < behind || data_start > file_size) return refuse();
    return 0;
}

int read_header(const ReadAt& read_at, std::uint64_t file_size, LogHeader& header) {
    std::array<std::uint8_t, kHeaderSize> bytes{};
    if (file_size < kHeaderSize) return platform::fail(platform::kErrorInvalidData);
    if (!read_exactly(read_at, bytes, 0)) return -1;
    // The layout is read little-endian only, and no writer makes swapped files.
    if (check_open_tag(bytes) != TagCheck::Accepted) return platform::fail(platform::kErrorInvalidData);
    LogHeader h = decode_header(bytes);
    if (const std::uint64_t extension = extension_read_size(h); extension != 0) {
        const auto offset = static_cast<std::uint64_t>(h.extendedOffset);
        if (h.extendedOffset < 0 || offset > file_size || extension > file_size - offset)
            return platform::fail(platform::kErrorInvalidData);
        std::array<std::uint8_t, kExtensionSize> block{};
        if (!read_exactly(read_at, std::span(block).first(extension), offset)) return -1;
        decode_extension(std::span(block).first(extension), h);
    }
    if (check_header(h, file_size) != 0) return -1;
    const std::uint64_t data_start = static_cast<std::uint64_t>(h.dataStart);
    const auto record_size = static_cast<std::uint64_t>(h.recordSize);
    // Offsets are 32-bit in the format: records that end beyond that cannot be addressed.
    const std::uint64_t end = std::min(file_size, kMaxOffset);
    const std::uint64_t count = end > data_start ? (end - data_start) / record_size : 0;
    h.recordCount = static_cast<std::int32_t>(count);
    h.endOfData = static_cast<std::int32_t>(data_start + count * record_size);
    header = h;
    return 0;
}

int read_channel_config(const ReadAt& read_at, const LogHeader& header, std::span<qvr::ChannelRecord> channels) {
    if (channels.size() < channel_total(header)) return platform::fail(platform::kErrorInvalidParameter);
    std::vector<std::uint8_t> section;
    std::size_t first = 0;
    for (std::size_t k = 0; k < used_blocks(header); ++k) {
        const BlockDescriptor& block = header.blocks[k];
        section.assign(section_size(block), 0);
        if (!read_exactly(read_at, section, section_offset(header, k))) return -1;
        if (decode_section(section, channels.subspan(first, block.channel_count())) != 0) return -1;
        first += block.channel_count();
    }
    return 0;
}

int encode_file_start(const LogHeader& header, std::span<const qvr::ChannelRecord> channels,
                      std::vector<std::uint8_t>& out) {
    if (header.dataStart < 0 || channels.size() != channel_total(header) ||
        check_header(header, static_cast<std::uint64_t>(header.dataStart)) != 0)
        return platform::fail(platform::kErrorInvalidParameter);
    out.assign(static_cast<std::size_t>(header.dataStart), 0);
    const std::span<std::uint8_t> bytes(out);
    encode_header(header, bytes.first<kHeaderSize>());
    std::size_t first = 0;
    for (std::size_t k = 0; k < used_blocks(header); ++k) {
        const BlockDescriptor& block = header.blocks[k];
        encode_section(channels.subspan(first, block.channel_count()),
                       bytes.subspan(section_offset(header, k), section_size(block)));
        first += block.channel_count();
    }
    if (const std::uint64_t extension = extension_read_size(header); extension != 0) {
        std::array<std::uint8_t, kExtensionSize> block{};
        encode_extension(header, block);
        std::copy_n(block.begin(), extension, out.begin() + header.extendedOffset);
    }
    return 0;
}

void encode_record_head(const RecordHead& head, std::span<std::uint8_t> record) {
    le::put_u16(record, 0, head.marker);
    record[2] = head.sigChangeMark;
    record[3] = 0;
    put_time(record, 4, head.time);
    le::put_f32(record, 12, head.sigChangeValue);
}

void encode_record_head_cut(const RecordHead& head, std::span<std::uint8_t> out) {
    if (out.size() >= kRecordHeadSize) return encode_record_head(head, out);
    std::array<std::uint8_t, kRecordHeadSize> full{};
    encode_record_head(head, full);
    std::copy_n(full.begin(), out.size(), out.begin());
}

RecordHead decode_record_head(std::span<const std::uint8_t> record) {
    return RecordHead{le::u16(record, 0), record[2], time_at(record, 4), le::f32(record, 12)};
}

namespace {
std::optional<std::size_t> sample_flags_at(std::size_t record_size, const BlockDescriptor& block, std::uint32_t j) {
    const std::uint32_t n = block.channel_count();
    if (j >= n || block.recordOffset < kRecordHeadSize ||
        block.recordOffset + std::size_t{n} * kSampleSize > record_size)
        return std::nullopt;
    return block.recordOffset + std::size_t{j} * 4;
}
}  // namespace

bool read_sample(std::span<const std::uint8_t> record, const BlockDescriptor& block, std::uint32_t j,
                 ChannelSample& sample) {
    const auto at = sample_flags_at(record.size(), block, j);
    if (!at) return false;
    sample.flags = le::i32(record, *at);
    sample.value = le::f32(record, *at + std::size_t{block.channel_count()} * 4);
    return true;
}

bool write_sample(std::span<std::uint8_t> record, const BlockDescriptor& block, std::uint32_t j,
                  const ChannelSample& sample) {
    const auto at = sample_flags_at(record.size(), block, j);
    if (!at) return false;
    le::put_i32(record, *at, sample.flags);
    le::put_f32(record, *at + std::size_t{block.channel_count()} * 4, sample.value);
    return true;
}

void sanitise_record(std::span<std::uint8_t> record, const LogHeader& header) {
    for (std::size_t k = 0; k < used_blocks(header); ++k) {
        const BlockDescriptor& block = header.blocks[k];
        const auto first = sample_flags_at(record.size(), block, 0);
        if (!first) continue;
        const std::uint32_t n = block.channel_count();
        for (std::uint32_t j = 0; j < n; ++j) {
            const std::size_t at = *first + std::size_t{j} * 4;
            const std::int32_t flags = le::i32(record, at);
            if ((flags & kSampleAnalog) == 0 || (flags & kSampleBad) != 0) continue;
            if (!std::isfinite(le::f32(record, at + std::size_t{n} * 4))) le::put_i32(record, at, flags | kSampleBad);
        }
    }
}

}  // namespace log_stores::run_file
