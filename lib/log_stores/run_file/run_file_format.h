#pragma once
// The stored form of one run file (".qdl"): a 900-byte header, one channel configuration
// section per block, an extension block with all 64 block descriptors and the logging
// machine's time-zone record, then fixed-size records. Every field is little-endian and
// goes through the accessors of le_bytes.h.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>
#include <sys/types.h>

#include "log_stores/log_header.h"
#include "qvr/records/channel_record.h"

namespace log_stores::run_file {

inline constexpr std::size_t kHeaderSize = 900;
inline constexpr std::size_t kBlockDescriptorSize = 52;
inline constexpr std::size_t kHeaderBlocks = 16;  // descriptors the header itself holds
inline constexpr std::size_t kExtensionSize = 3504;
inline constexpr std::size_t kRecordHeadSize = 16;
inline constexpr std::size_t kSampleSize = 8;  // flag word and value of one channel

inline constexpr std::uint16_t kNewFormatTag = 0x8001;
inline constexpr std::uint16_t kLowestFormatTag = 0x8001;
inline constexpr std::uint16_t kHighestFormatTag = 0xE001;
inline constexpr std::uint16_t kSectionBegin = 0x8002;
inline constexpr std::uint16_t kSectionEnd = 0x8003;
inline constexpr std::uint16_t kRecordMarker = 0x8004;

// Header field offsets.
inline constexpr std::size_t kHdrEndOfData = 0, kHdrFormatTag = 4, kHdrBlockCount = 6, kHdrRecordCount = 8,
                             kHdrStart = 12, kHdrStop = 20, kHdrDataStart = 28, kHdrRecordSize = 32,
                             kHdrBlocks = 36, kHdrTagColumns = 868, kHdrSigChange = 869, kHdrTriggerPrefix = 870,
                             kHdrTriggerNumber = 872, kHdrLagPrefix = 874, kHdrLagNumber = 876,
                             kHdrCarried8 = 878, kHdrCarried32 = 886, kHdrCarried16 = 890,
                             kHdrExtendedLength = 892, kHdrExtendedOffset = 896;
// Extension block offsets.
inline constexpr std::size_t kExtBlockCount = 0, kExtBlocks = 2, kExtTimeZone = 3332;

static_assert(kHdrBlocks + kHeaderBlocks * kBlockDescriptorSize == kHdrTagColumns);
static_assert(kHdrExtendedOffset + 4 == kHeaderSize && kHeaderSize == 900);
static_assert(kBlockDescriptorSize == 52);
static_assert(qvr::kChannelRecordSize == 216);
static_assert(platform::kTimeZoneInformationSize == 172);
static_assert(kExtBlocks + kMaxBlocks * kBlockDescriptorSize + 2 == kExtTimeZone);
static_assert(kExtTimeZone + platform::kTimeZoneInformationSize == kExtensionSize && kExtensionSize == 3504);

// Channel flag words inside records.
inline constexpr std::int32_t kSampleDigital = 0x01;
inline constexpr std::int32_t kSampleBad = 0x20;
inline constexpr std::int32_t kSampleAnalog = 0x80;

// The fixed head of every record.
struct RecordHead {
    std::uint16_t marker = kRecordMarker;
    std::uint8_t sigChangeMark = 0;  // LL
    TimeStamp time{};
    float sigChangeValue = 0;  // LV
};

struct ChannelSample {
    std::int32_t flags = 0;
    float value = 0;
};

// Descriptors.
void encode_block(const BlockDescriptor& block, std::span<std::uint8_t, kBlockDescriptorSize> out);
BlockDescriptor decode_block(std::span<const std::uint8_t, kBlockDescriptorSize> in);

// The 900-byte header: blockCount is written as the smaller of the true count and 16, and
// only the first 16 descriptors. Decoding clears the descriptors beyond 16.
void encode_header(const LogHeader& header, std::span<std::uint8_t, kHeaderSize> out);
LogHeader decode_header(std::span<const std::uint8_t, kHeaderSize> in);

// The extension block: true blockCount, 64 descriptors, time-zone record. Decoding takes
// these three from `in` (shorter than 3,504 bytes: the missing part reads as zero).
void encode_extension(const LogHeader& header, std::span<std::uint8_t, kExtensionSize> out);
void decode_extension(std::span<const std::uint8_t> in, LogHeader& header);

// What the open check makes of the first 6 bytes of a file.
enum class TagCheck { Accepted, Swapped, Refused };
TagCheck check_open_tag(std::span<const std::uint8_t> first_bytes);

// Size of block k's configuration section (216 n + 4), and the offset where the section of
// block k starts; both over the blocks in use.
std::uint64_t section_size(const BlockDescriptor& block);
std::uint64_t section_offset(const LogHeader& header, std::size_t block_index);
// Offset of the configuration of channel index j (0-based) inside block k.
std::uint64_t channel_config_offset(const LogHeader& header, std::size_t block_index, std::uint32_t channel_index);

// One section: 0x8002, the channel records, 0x8003. `out` must be section-sized.
int encode_section(std::span<const qvr::ChannelRecord> channels, std::span<std::uint8_t> out);
// -1 (ERROR_INVALID_DATA) when the size or either marker is wrong.
int decode_section(std::span<const std::uint8_t> in, std::span<qvr::ChannelRecord> channels);

// Checks a header (with the extension block merged in) against a file of `file_size`
// bytes: 0, or -1 with ERROR_INVALID_DATA when any offset, count or size would lead a
// reader outside the file, the record or the descriptor table.
int check_header(const LogHeader& header, std::uint64_t file_size);

// Reads bytes of the file at an offset: the count read (short only at the end), or -1.
using ReadAt = std::function<ssize_t(std::span<std::uint8_t> out, std::uint64_t offset)>;

// Reads and checks the header of a file of `file_size` bytes, merges the extension block
// and recomputes recordCount and endOfData from the records present. 0, or -1 with
// ERROR_INVALID_DATA (also for a byte-swapped or out-of-range tag) or the read's error.
int read_header(const ReadAt& read_at, std::uint64_t file_size, LogHeader& header);
// The configurations of every block in use, in order (sum of n records), checking the
// section markers.
int read_channel_config(const ReadAt& read_at, const LogHeader& header, std::span<qvr::ChannelRecord> channels);
// Number of channel configurations the header's blocks hold.
std::size_t channel_total(const LogHeader& header);

// The bytes a new file starts with, up to dataStart: header, sections, extension block
// (min(extendedLength, 3,504) bytes of it) and zeros. -1 (ERROR_INVALID_PARAMETER) when the
// header's layout fails check_header or `channels` does not match the blocks.
int encode_file_start(const LogHeader& header, std::span<const qvr::ChannelRecord> channels,
                      std::vector<std::uint8_t>& out);

// Records. `record` is one record of header.recordSize bytes.
void encode_record_head(const RecordHead& head, std::span<std::uint8_t> record);
// The same into a caller's buffer that may end inside the head: as much of it as fits.
void encode_record_head_cut(const RecordHead& head, std::span<std::uint8_t> out);
RecordHead decode_record_head(std::span<const std::uint8_t> record);
// The sample of channel index j of a block; false when it does not lie inside the record.
bool read_sample(std::span<const std::uint8_t> record, const BlockDescriptor& block, std::uint32_t j,
                 ChannelSample& sample);
bool write_sample(std::span<std::uint8_t> record, const BlockDescriptor& block, std::uint32_t j,
                  const ChannelSample& sample);
// Sets the bad flag of every analog channel whose value is a NaN or an infinity.
void sanitise_record(std::span<std::uint8_t> record, const LogHeader& header);

}  // namespace log_stores::run_file
