#include "log_stores/run_file/run_file_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "log_stores/run_file/run_file_layout.h"
#include "platform/last_error.h"

namespace {

using namespace log_stores;
using namespace log_stores::run_file;
using Bytes = std::vector<std::uint8_t>;

ReadAt reader_of(const Bytes& file) {
    return [&file](std::span<std::uint8_t> out, std::uint64_t offset) -> ssize_t {
        if (offset >= file.size()) return 0;
        const std::size_t n = std::min<std::size_t>(out.size(), file.size() - offset);
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
        return static_cast<ssize_t>(n);
    };
}

std::uint16_t u16_at(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); }
std::uint32_t u32_at(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t{b[at + 3]} << 24;
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A header with every field set to a value of its own, `blocks` blocks of `width` channels.
LogHeader full_header(std::size_t blocks, std::uint16_t width) {
    LogHeader h;
    h.blockCount = static_cast<std::uint16_t>(blocks);
    for (std::size_t k = 0; k < blocks; ++k) {
        BlockDescriptor& b = h.blocks[k];
        b.prefix = {static_cast<char>('A' + k % 26), 'X'};
        b.firstChannel = static_cast<std::uint16_t>(10 * k + 1);
        b.lastChannel = static_cast<std::uint16_t>(b.firstChannel + width - 1);
        b.blockKind = static_cast<std::uint16_t>(k % 3);
        for (std::size_t i = 0; i < b.carried.size(); ++i) b.carried[i] = static_cast<std::uint8_t>(k + i + 1);
    }
    h.start = {1236262029, 0, 0};
    h.stop = {1236297600, 12, 34};
    h.tagColumns = 1;
    h.sigChange = 2;
    h.triggerPrefix = {'T', 'R'};
    h.triggerNumber = -7;
    h.lagPrefix = {'L', 'G'};
    h.lagNumber = 300;
    h.carried8 = {0xde, 0xad, 0xbe, 0xef, 1, 2, 3, 0xff};
    h.carried32 = -123456789;
    h.carried16 = -2;
    EXPECT_EQ(lay_out_header(h, "CET-1CEST,M3.5.0,M10.5.0/3"), 0);
    return h;
}

std::vector<qvr::ChannelRecord> channels_for(const LogHeader& h) {
    std::vector<qvr::ChannelRecord> channels(channel_total(h));
    for (std::size_t i = 0; i < channels.size(); ++i)
        for (std::size_t b = 0; b < qvr::kChannelRecordSize; ++b)
            channels[i].bytes[b] = static_cast<std::uint8_t>(i * 7 + b);
    return channels;
}

Bytes file_of(const LogHeader& h, std::size_t records) {
    Bytes file;
    EXPECT_EQ(encode_file_start(h, channels_for(h), file), 0);
    file.resize(file.size() + records * static_cast<std::size_t>(h.recordSize));
    return file;
}

// Offsets below are worked out by hand from the stored layout, not taken from the codec.
TEST(RunFileFormat, OneBlockOfThreeChannelsLiesWhereTheLayoutSays) {
    LogHeader h = full_header(1, 3);
    EXPECT_EQ(h.extendedOffset, 1552);
    EXPECT_EQ(h.extendedLength, 3504);
    EXPECT_EQ(h.dataStart, 5056);
    EXPECT_EQ(h.recordSize, 40);
    EXPECT_EQ(h.blocks[0].recordOffset, 16);
    EXPECT_EQ(h.formatTag, 0x8001);

    Bytes file = file_of(h, 0);
    ASSERT_EQ(file.size(), 5056u);
    EXPECT_EQ(u32_at(file, 0), 5056u);    // endOfData
    EXPECT_EQ(u16_at(file, 4), 0x8001);   // formatTag
    EXPECT_EQ(u16_at(file, 6), 1);        // blockCount
    EXPECT_EQ(u32_at(file, 12), 1236262029u);
    EXPECT_EQ(u16_at(file, 24), 12);      // stop milliseconds
    EXPECT_EQ(u16_at(file, 26), 34);
    EXPECT_EQ(u32_at(file, 28), 5056u);   // dataStart
    EXPECT_EQ(u32_at(file, 32), 40u);     // recordSize
    EXPECT_EQ(file[36], 'A');
    EXPECT_EQ(u16_at(file, 38), 1);       // firstChannel
    EXPECT_EQ(u16_at(file, 40), 3);       // lastChannel
    EXPECT_EQ(u16_at(file, 44), 16);      // recordOffset
    EXPECT_EQ(file[46], 1);               // first carried descriptor byte
    EXPECT_EQ(file[87], 42);              // last carried descriptor byte
    EXPECT_EQ(file[868], 1);
    EXPECT_EQ(file[869], 2);
    EXPECT_EQ(file[870], 'T');
    EXPECT_EQ(u16_at(file, 872), 0xFFF9);
    EXPECT_EQ(file[874], 'L');
    EXPECT_EQ(u16_at(file, 876), 300);
    EXPECT_EQ(file[878], 0xde);
    EXPECT_EQ(file[885], 0xff);
    EXPECT_EQ(u32_at(file, 886), static_cast<std::uint32_t>(-123456789));
    EXPECT_EQ(u16_at(file, 890), 0xFFFE);
    EXPECT_EQ(u32_at(file, 892), 3504u);
    EXPECT_EQ(u32_at(file, 896), 1552u);
    EXPECT_EQ(u16_at(file, 900), 0x8002);
    EXPECT_EQ(file[902], 0);                       // channel 0, byte 0
    EXPECT_EQ(file[902 + 216], 7);                 // channel 1, byte 0
    EXPECT_EQ(u16_at(file, 1550), 0x8003);
    EXPECT_EQ(u16_at(file, 1552), 1);              // the true blockCount
    EXPECT_EQ(u16_at(file, 1554 + 2), 1);          // extension descriptor 0, firstChannel
    EXPECT_EQ(u16_at(file, 1554 + 8), 16);
    const platform::TimeZoneInformation zone = platform::time_zone_information_for("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_TRUE(std::equal(zone.begin(), zone.end(), file.begin() + 1552 + 3332));
    EXPECT_EQ(u32_at(file, 1552 + 3332), 0xFFFFFFC4u);  // bias -60

    // One record by hand: head, three flag words at 16, three values at 28.
    Bytes record(40, 0);
    put16(record, 0, 0x8004);
    record[2] = 1;
    put32(record, 4, 1236262030);
    put16(record, 8, 250);
    put16(record, 10, 7);
    put32(record, 16, 0x80);
    put32(record, 20, 0x80);
    put32(record, 24, 0x01);
    put32(record, 28, 0x3fc00000);  // 1.5f
    put32(record, 32, 0x7fc00000);  // quiet NaN
    put32(record, 36, 0x7fc00000);  // a digital channel keeps what it holds
    file.insert(file.end(), record.begin(), record.end());

    LogHeader read;
    ASSERT_EQ(read_header(reader_of(file), file.size(), read), 0);
    EXPECT_EQ(read.recordCount, 1);
    EXPECT_EQ(read.endOfData, 5096);
    const RecordHead head = decode_record_head(record);
    EXPECT_EQ(head.marker, 0x8004);
    EXPECT_EQ(head.sigChangeMark, 1);
    EXPECT_EQ(head.time.seconds, 1236262030);
    EXPECT_EQ(head.time.milliseconds, 250);
    EXPECT_EQ(head.time.microseconds, 7);

    sanitise_record(record, read);
    ChannelSample s;
    ASSERT_TRUE(read_sample(record, read.blocks[0], 0, s));
    EXPECT_EQ(s.flags, 0x80);
    EXPECT_EQ(s.value, 1.5f);
    ASSERT_TRUE(read_sample(record, read.blocks[0], 1, s));
    EXPECT_EQ(s.flags, 0xA0);
    ASSERT_TRUE(read_sample(record, read.blocks[0], 2, s));
    EXPECT_EQ(s.flags, 0x01);
    EXPECT_EQ(u32_at(record, 36), 0x7fc00000u);
    EXPECT_FALSE(read_sample(record, read.blocks[0], 3, s));
}

TEST(RunFileFormat, TwentyBlocksKeepSixteenInTheHeaderAndAllInTheExtension) {
    LogHeader h = full_header(20, 2);
    Bytes file = file_of(h, 2);
    EXPECT_EQ(u16_at(file, 6), 16);
    EXPECT_EQ(u16_at(file, static_cast<std::size_t>(h.extendedOffset)), 20);
    // The seventeenth descriptor is only in the extension block.
    EXPECT_EQ(u16_at(file, static_cast<std::size_t>(h.extendedOffset) + 2 + 16 * 52 + 2), 161);

    LogHeader read;
    ASSERT_EQ(read_header(reader_of(file), file.size(), read), 0);
    EXPECT_EQ(read.blockCount, 20);
    EXPECT_EQ(read.recordCount, 2);
    EXPECT_TRUE(std::equal(h.blocks.begin(), h.blocks.end(), read.blocks.begin()));

    std::vector<qvr::ChannelRecord> channels(channel_total(read));
    ASSERT_EQ(channels.size(), 40u);
    ASSERT_EQ(read_channel_config(reader_of(file), read, channels), 0);
    EXPECT_EQ(channels, channels_for(h));
    // Channel index 1 of block 17: 900 + 17 x (2 x 216 + 4) + 2 + 216.
    EXPECT_EQ(channel_config_offset(read, 17, 1), 900u + 17 * 436 + 2 + 216);
    EXPECT_EQ(file[channel_config_offset(read, 17, 1)], channels[35].bytes[0]);
}

// Every field written is read back unchanged, the carried bytes included; only the
// counts are recomputed from the records present.
TEST(RunFileFormat, HeadersRoundTripUnchanged) {
    struct Case {
        const char* name;
        std::size_t blocks;
        std::uint16_t width;
        std::size_t records;
        std::function<void(LogHeader&)> change;
    };
    const Case cases[] = {
        {"no blocks", 0, 1, 0, [](LogHeader&) {}},
        {"one block", 1, 3, 5, [](LogHeader&) {}},
        {"sixteen", 16, 1, 1, [](LogHeader&) {}},
        {"seventeen", 17, 4, 3, [](LogHeader&) {}},
        {"sixty-four", 64, 2, 2, [](LogHeader&) {}},
        {"running", 2, 5, 1, [](LogHeader& h) { h.stop = {}; }},
        {"highest tag", 3, 2, 1, [](LogHeader& h) { h.formatTag = 0xE001; }},
        {"extremes", 1, 1, 0,
         [](LogHeader& h) {
             h.start = {std::numeric_limits<std::int32_t>::min(), -1, -1};
             h.triggerNumber = std::numeric_limits<std::int16_t>::min();
             h.carried32 = std::numeric_limits<std::int32_t>::max();
             h.blocks[0].blockKind = 0xFFFF;
             h.blocks[0].prefix = {'\xff', '\0'};
         }},
        {"wide block", 1, 1000, 1, [](LogHeader&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogHeader h = full_header(c.blocks, c.width);
        c.change(h);
        const Bytes file = file_of(h, c.records);
        LogHeader read;
        ASSERT_EQ(read_header(reader_of(file), file.size(), read), 0);
        h.recordCount = static_cast<std::int32_t>(c.records);
        h.endOfData = h.dataStart + static_cast<std::int32_t>(c.records) * h.recordSize;
        EXPECT_TRUE(read == h);

        // The 900 bytes themselves survive decoding and encoding again.
        std::array<std::uint8_t, kHeaderSize> again{};
        encode_header(decode_header(std::span(file).first<kHeaderSize>()), again);
        EXPECT_TRUE(std::equal(again.begin(), again.end(), file.begin()));
    }
}

TEST(RunFileFormat, WithoutAnExtensionBlockTheHeaderDescriptorsAreUsed) {
    LogHeader h = full_header(16, 1);
    h.extendedLength = 0;
    h.extendedOffset = 0;
    h.timeZone = {};
    Bytes file = file_of(h, 1);
    for (std::size_t k = 16; k < kMaxBlocks; ++k) EXPECT_EQ(h.blocks[k], BlockDescriptor{});
    LogHeader read;
    ASSERT_EQ(read_header(reader_of(file), file.size(), read), 0);
    EXPECT_EQ(read.blockCount, 16);
    EXPECT_TRUE(std::equal(h.blocks.begin(), h.blocks.begin() + 16, read.blocks.begin()));
}

TEST(RunFileFormat, IncompleteLastRecordIsNotCounted) {
    const LogHeader h = full_header(1, 3);
    Bytes file = file_of(h, 3);
    file.resize(file.size() - 1);
    LogHeader read;
    ASSERT_EQ(read_header(reader_of(file), file.size(), read), 0);
    EXPECT_EQ(read.recordCount, 2);
    EXPECT_EQ(read.endOfData, 5056 + 80);
}

// Each rule a reader relies on, broken in a file that is otherwise sound.
TEST(RunFileFormat, MalformedFilesAreRefusedAsInvalidData) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
    };
    const std::size_t ext = 1552;
    const Case cases[] = {
        {"fewer than 900 bytes", [](Bytes& f) { f.resize(899); }},
        {"tag 0x8000", [](Bytes& f) { put16(f, 4, 0x8000); }},
        {"tag 0xE002", [](Bytes& f) { put16(f, 4, 0xE002); }},
        {"swapped tag", [](Bytes& f) { put16(f, 4, 0x0180); }},
        {"record size 0", [](Bytes& f) { put32(f, 32, 0); }},
        {"record size 15", [](Bytes& f) { put32(f, 32, 15); }},
        {"negative record size", [](Bytes& f) { put32(f, 32, 0xFFFFFFD8); }},
        {"data start beyond the file", [](Bytes& f) { put32(f, 28, static_cast<std::uint32_t>(f.size() + 1)); }},
        {"negative data start", [](Bytes& f) { put32(f, 28, 0xFFFFFF00); }},
        {"data start inside the extension", [](Bytes& f) { put32(f, 28, 5055); }},
        {"block count 65", [ext](Bytes& f) { put16(f, ext, 65); }},
        {"last channel below first", [ext](Bytes& f) { put16(f, ext + 2 + 4, 0); }},
        {"record offset 15", [ext](Bytes& f) { put16(f, ext + 2 + 8, 15); }},
        {"block beyond the record", [ext](Bytes& f) { put16(f, ext + 2 + 8, 17); }},
        {"sections beyond the file", [ext](Bytes& f) { put16(f, ext + 2 + 4, 60000); }},
        {"extension before the sections end", [](Bytes& f) { put32(f, 896, 1551); }},
        {"extension beyond the file", [](Bytes& f) { put32(f, 896, static_cast<std::uint32_t>(f.size() - 100)); }},
        {"negative extension offset", [](Bytes& f) { put32(f, 896, 0xFFFFFFF0); }},
        {"negative extension length", [](Bytes& f) { put32(f, 892, 0x80000000); }},
        {"no extension and 17 blocks", [](Bytes& f) {
             put32(f, 892, 0);
             put16(f, 6, 17);
         }},
    };
    const Bytes good = file_of(full_header(1, 3), 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = good;
        c.damage(file);
        LogHeader read;
        platform::set_last_error(0);
        EXPECT_EQ(read_header(reader_of(file), file.size(), read), -1);
        EXPECT_EQ(platform::last_error(), platform::kErrorInvalidData);
    }
    Bytes highest = good;
    put16(highest, 4, 0xE001);
    LogHeader read;
    EXPECT_EQ(read_header(reader_of(highest), highest.size(), read), 0);
}

TEST(RunFileFormat, TheOpenCheckTakesSwappedTagsAndRefusesOthers) {
    struct Case {
        std::uint16_t tag;
        TagCheck expected;
    };
    for (const Case c : {Case{0x8001, TagCheck::Accepted}, Case{0xE001, TagCheck::Accepted},
                         Case{0x8000, TagCheck::Refused}, Case{0xE002, TagCheck::Refused},
                         Case{0x0180, TagCheck::Swapped}, Case{0x01E0, TagCheck::Swapped},
                         Case{0x01C0, TagCheck::Swapped}, Case{0x0181, TagCheck::Swapped}, Case{0x01E1, TagCheck::Refused},
                         Case{0x017F, TagCheck::Refused}, Case{0, TagCheck::Refused}}) {
        SCOPED_TRACE(c.tag);
        Bytes first(6, 0);
        put16(first, 4, c.tag);
        EXPECT_EQ(check_open_tag(first), c.expected);
    }
    EXPECT_EQ(check_open_tag(Bytes{1, 2, 3, 4, 1}), TagCheck::Refused);
}

TEST(RunFileFormat, ASectionWithAWrongMarkerIsRefused) {
    const LogHeader h = full_header(2, 2);
    std::vector<qvr::ChannelRecord> channels(channel_total(h));
    for (const std::size_t at : {900u, 900u + 436 - 2, 900u + 436 + 436 - 2}) {
        SCOPED_TRACE(at);
        Bytes file = file_of(h, 0);
        file[at] ^= 1;
        EXPECT_EQ(read_channel_config(reader_of(file), h, channels), -1);
        EXPECT_EQ(platform::last_error(), platform::kErrorInvalidData);
    }
    std::vector<qvr::ChannelRecord> too_few(3);
    EXPECT_EQ(read_channel_config(reader_of(file_of(h, 0)), h, too_few), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
}

TEST(RunFileFormat, SanitisingMarksOnlyAnalogValuesThatAreNoNumbers) {
    struct Case {
        std::int32_t flags;
        float value;
        std::int32_t expected;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {0x80, std::numeric_limits<float>::quiet_NaN(), 0xA0},
        {0x80, std::numeric_limits<float>::signaling_NaN(), 0xA0},
        {0x80, inf, 0xA0},
        {0x80, -inf, 0xA0},
        {0x80, 3.25f, 0x80},
        {0x80, std::numeric_limits<float>::denorm_min(), 0x80},
        {0xA0, std::numeric_limits<float>::quiet_NaN(), 0xA0},
        {0x01, std::numeric_limits<float>::quiet_NaN(), 0x01},
        {0x01, inf, 0x01},
    };
    LogHeader h = full_header(2, static_cast<std::uint16_t>(std::size(cases)));
    std::vector<std::uint8_t> record(static_cast<std::size_t>(h.recordSize), 0);
    for (std::uint32_t j = 0; j < std::size(cases); ++j)
        for (std::size_t k = 0; k < 2; ++k)
            ASSERT_TRUE(write_sample(record, h.blocks[k], j, {cases[j].flags, cases[j].value}));
    const std::vector<std::uint8_t> before = record;
    sanitise_record(record, h);
    for (std::uint32_t j = 0; j < std::size(cases); ++j)
        for (std::size_t k = 0; k < 2; ++k) {
            ChannelSample s;
            ASSERT_TRUE(read_sample(record, h.blocks[k], j, s));
            EXPECT_EQ(s.flags, cases[j].expected) << j;
            ChannelSample original;
            ASSERT_TRUE(read_sample(before, h.blocks[k], j, original));
            EXPECT_EQ(std::memcmp(&s.value, &original.value, 4), 0) << "values are handed out as stored";
        }
    // A record shorter than the blocks say is left alone, never read beyond.
    std::vector<std::uint8_t> short_record(20, 0xFF);
    sanitise_record(short_record, h);
    EXPECT_EQ(short_record, std::vector<std::uint8_t>(20, 0xFF));
}

TEST(RunFileFormat, LayingOutRefusesWhatTheFormatCannotHold) {
    LogHeader h;
    h.blockCount = 65;
    EXPECT_EQ(lay_out_header(h), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    h.blockCount = 1;
    h.blocks[0].firstChannel = 5;
    h.blocks[0].lastChannel = 4;
    EXPECT_EQ(lay_out_header(h), -1);
    // A header whose channels do not match is not written.
    LogHeader good = full_header(1, 3);
    Bytes out;
    std::vector<qvr::ChannelRecord> two(2);
    EXPECT_EQ(encode_file_start(good, two, out), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
}

}  // namespace
