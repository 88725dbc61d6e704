#include "qvr/logger_config/logger_mirror.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "qvr/logger_config/logger_bytes.h"
#include "qvr/logger_config/logger_codes.h"
#include "qvr/logger_config/logger_layout.h"

namespace qvr::logger {

namespace {

namespace m = stand_mirror;

constexpr std::size_t offset_of(std::string_view name) { return find_field(kStandFields, name)->offset; }
template <typename Fields>
constexpr std::size_t offset_in(const Fields& fields, std::string_view name) {
    return find_field(fields, name)->offset;
}

constexpr std::size_t kLogChannels = offset_of("LogChannels");
constexpr std::size_t kEventChannels = offset_of("EventChannels");
constexpr std::size_t kEventTagsInEntry = 6;

// The eight export booleans in the order of the flags byte's bits.
constexpr std::array<std::size_t, 8> kExportFlagFields{
    offset_of("ExportDataLogs"),      offset_of("ExportStatistics"),         offset_of("ExportTextLogs"),
    offset_of("ExportTextNewLine"),   offset_of("ExportColumnHeaders"),      offset_of("ExportColumnHeaderAsTags"),
    offset_of("ExportLoggerInfo"),    offset_of("ExportChannelHeaderTags"),
};
constexpr std::array<std::size_t, 3> kPasswordTexts{
    offset_of("EmailMAPIPassword"), offset_of("EmailNTPassword"), offset_of("EmailSMTPPassword")};
constexpr std::array<std::string_view, 3> kPasswordNames{"EmailMAPIPassword", "EmailNTPassword",
                                                         "EmailSMTPPassword"};
constexpr std::size_t kPasswordTextSize = 514;
static_assert(2 * m::kPasswordArea < kPasswordTextSize);

void copy_bytes(std::span<std::uint8_t> r, std::size_t to, std::size_t from, std::size_t n) {
    std::memmove(r.data() + to, r.data() + from, n);
}

std::string_view bounded_text(std::span<const std::uint8_t> r, std::size_t at, std::size_t size) {
    const char* p = reinterpret_cast<const char*>(r.data() + at);
    return {p, static_cast<std::size_t>(std::find(p, p + size, '\0') - p)};
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::uint8_t duration_cycle_code(std::span<const std::uint8_t> d) {
    if (d.size() < 6) return 0;
    return cycle_code(d[1], d[2], d[3], d[4]);
}

int fill_second_layout(std::span<std::uint8_t> r, std::string& bad_field) {
    if (r.size() < kStandRecordSize) return 0;
    // Passwords first: a bad text must leave the record as it was.
    std::array<std::array<std::uint8_t, m::kPasswordArea>, 3> decoded{};
    std::array<std::size_t, 3> counts{};
    for (std::size_t p = 0; p < 3; ++p) {
        const std::string_view text = bounded_text(r, kPasswordTexts[p], kPasswordTextSize);
        bool good = text.size() % 2 == 0 && text.size() <= 2 * m::kPasswordArea;
        for (std::size_t i = 0; good && i < text.size(); i += 2) {
            const int hi = hex_digit(text[i]);
            const int lo = hex_digit(text[i + 1]);
            good = hi >= 0 && lo >= 0;
            if (good) decoded[p][i / 2] = static_cast<std::uint8_t>(hi << 4 | lo);
        }
        if (!good) {
            bad_field = std::string(kPasswordNames[p]);
            return -1;
        }
        counts[p] = text.size() / 2;
    }
    for (std::size_t p = 0; p < 3; ++p) {
        put_u32(r, m::kPasswordCounts[p], static_cast<std::uint32_t>(counts[p]));
        std::memcpy(r.data() + m::kPasswordBytes[p], decoded[p].data(), m::kPasswordArea);
    }

    for (std::size_t i = 0; i < kChannelCount; ++i) {
        const std::size_t log = kLogChannels + i * kLogChannelEntrySize;
        const std::size_t event = kEventChannels + i * kEventChannelEntrySize;
        r[m::kRecalc + i] = get_u32(r, log + log_channel::kRecalc) != 0 ? 1 : 0;
        copy_bytes(r, m::kAverage + 4 * i, log + log_channel::kAverage, 4);
        copy_bytes(r, m::kLag + 4 * i, log + log_channel::kLag, 4);
        copy_bytes(r, m::kLogRanges + kChannelRangeSize * i, log + log_channel::kRange, kChannelRangeSize);
        copy_bytes(r, m::kEventRanges + kChannelRangeSize * i, event, kChannelRangeSize);
        copy_bytes(r, m::kSources + 33 * i, log + log_channel::kSource, 33);
        copy_bytes(r, m::kLogTags + kTagRangeSize * i, log + log_channel::kTags, kTagRangeSize);
        copy_bytes(r, m::kEventTags + kTagRangeSize * i, event + kEventTagsInEntry, kTagRangeSize);
    }
    r[m::kAverageBits16] = 0;
    r[m::kAverageBits16 + 1] = 0;
    for (std::size_t j = 0; j < kMirroredChannelCount; ++j) {
        const std::size_t log = kLogChannels + j * kLogChannelEntrySize;
        const std::size_t event = kEventChannels + j * kEventChannelEntrySize;
        copy_bytes(r, m::kLogRanges16 + kChannelRangeSize * j, log + log_channel::kRange, kChannelRangeSize);
        copy_bytes(r, m::kEventRanges16 + kChannelRangeSize * j, event, kChannelRangeSize);
        if (get_u32(r, log + log_channel::kAverage) != 0)
            r[m::kAverageBits16 + j / 8] |= static_cast<std::uint8_t>(0x80 >> (j % 8));
        // The first 12 bytes of the 30-byte tag range, the rest of the slot zero.
        const std::size_t log_slot = m::kLogTags16 + m::kTagSlot16 * j;
        const std::size_t event_slot = m::kEventTags16 + m::kTagSlot16 * j;
        std::memset(r.data() + log_slot, 0, m::kTagSlot16);
        std::memset(r.data() + event_slot, 0, m::kTagSlot16);
        copy_bytes(r, log_slot, log + log_channel::kTags, m::kTagBytes16);
        copy_bytes(r, event_slot, event + kEventTagsInEntry, m::kTagBytes16);
    }

    r[m::kCycleCodeDeleteOlderThan] = duration_cycle_code(r.subspan(offset_of("DeleteOlderThan"), 6));
    r[m::kCycleCodeCycleLogFor] = duration_cycle_code(r.subspan(offset_of("CycleLogFor"), 6));
    r[m::kCycleCodeCycleEvery] = duration_cycle_code(r.subspan(offset_of("CycleEvery"), 6));

    std::uint8_t flags = 0;
    for (std::size_t bit = 0; bit < kExportFlagFields.size(); ++bit)
        if (r[kExportFlagFields[bit]] != 0) flags |= static_cast<std::uint8_t>(1u << bit);
    r[m::kExportFlags] = flags;
    r[m::kExportFileKind] = export_file_kind(bounded_text(r, offset_of("ExportFileName"), 256));

    r[m::kChannelsMarker] = 1;
    r[m::kPasswordsMarker] = 1;
    return 0;
}

void fill_typed_fields(std::span<std::uint8_t> r) {
    if (r.size() < kStandRecordSize) return;
    for (std::size_t i = 0; i < kChannelCount; ++i) {
        const std::size_t log = kLogChannels + i * kLogChannelEntrySize;
        const std::size_t event = kEventChannels + i * kEventChannelEntrySize;
        put_u32(r, log + log_channel::kRecalc, r[m::kRecalc + i] != 0 ? 1 : 0);
        copy_bytes(r, log + log_channel::kAverage, m::kAverage + 4 * i, 4);
        copy_bytes(r, log + log_channel::kLag, m::kLag + 4 * i, 4);
        copy_bytes(r, log + log_channel::kRange, m::kLogRanges + kChannelRangeSize * i, kChannelRangeSize);
        copy_bytes(r, event, m::kEventRanges + kChannelRangeSize * i, kChannelRangeSize);
        copy_bytes(r, log + log_channel::kSource, m::kSources + 33 * i, 33);
        copy_bytes(r, log + log_channel::kTags, m::kLogTags + kTagRangeSize * i, kTagRangeSize);
        copy_bytes(r, event + kEventTagsInEntry, m::kEventTags + kTagRangeSize * i, kTagRangeSize);
    }
    const std::uint8_t flags = r[m::kExportFlags];
    for (std::size_t bit = 0; bit < kExportFlagFields.size(); ++bit)
        put_u32(r, kExportFlagFields[bit], (flags >> bit) & 1u);

    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t p = 0; p < 3; ++p) {
        // The count comes from the file: bounded to the 256-byte area it counts.
        const std::int32_t raw = get_i32(r, m::kPasswordCounts[p]);
        const std::size_t count = static_cast<std::size_t>(std::clamp<std::int32_t>(raw, 0, m::kPasswordArea));
        std::uint8_t* text = r.data() + kPasswordTexts[p];
        std::memset(text, 0, kPasswordTextSize);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t b = r[m::kPasswordBytes[p] + i];
            text[2 * i] = static_cast<std::uint8_t>(kHex[b >> 4]);
            text[2 * i + 1] = static_cast<std::uint8_t>(kHex[b & 15]);
        }
    }
    r[m::kPasswordsMarker] = 1;
}

void fill_repub_cycle_codes(std::span<std::uint8_t> r) {
    if (r.size() < kRepubRecordSize) return;
    constexpr std::array<std::string_view, 4> kDurations{"DeleteSourceOlderThan", "DeleteDestinationOlderThan",
                                                         "CyclePublishFor", "CycleEvery"};
    for (std::size_t k = 0; k < kDurations.size(); ++k)
        r[repub_mirror::kCycleCodes[k]] =
            duration_cycle_code(r.subspan(offset_in(kRepubFields, kDurations[k]), 6));
}

}  // namespace qvr::logger
