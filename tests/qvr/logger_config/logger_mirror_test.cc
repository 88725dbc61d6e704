// The standard record's second layout kept in step with its typed fields, both ways, and the
// republisher's cycle codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "qvr/logger_config/logger_layout.h"
#include "qvr/logger_config/logger_mirror.h"

namespace {

using namespace qvr::logger;

std::size_t at(std::string_view name) { return find_field(kStandFields, name)->offset; }

void put_text(std::vector<std::uint8_t>& r, std::size_t offset, std::string_view text) {
    std::memcpy(r.data() + offset, text.data(), text.size());
}
std::uint32_t u32(const std::vector<std::uint8_t>& r, std::size_t o) {
    return r[o] | r[o + 1] << 8 | r[o + 2] << 16 | static_cast<std::uint32_t>(r[o + 3]) << 24;
}
void put32(std::vector<std::uint8_t>& r, std::size_t o, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) r[o + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
// A duration as the record holds it: months, days, hours, minutes at bytes 1 to 4.
void put_duration(std::vector<std::uint8_t>& r, std::size_t o, int months, int days, int hours, int minutes) {
    r[o + 1] = static_cast<std::uint8_t>(months);
    r[o + 2] = static_cast<std::uint8_t>(days);
    r[o + 3] = static_cast<std::uint8_t>(hours);
    r[o + 4] = static_cast<std::uint8_t>(minutes);
}

// Each channel gets bytes that tell it apart from every other channel and field.
std::vector<std::uint8_t> typed_record() {
    std::vector<std::uint8_t> r(kStandRecordSize, 0);
    for (std::size_t i = 0; i < 64; ++i) {
        const std::size_t log = 22964 + 84 * i;
        const std::size_t event = 28340 + 36 * i;
        for (std::size_t b = 0; b < 33; ++b) r[log + b] = static_cast<std::uint8_t>('A' + (i + b) % 26);
        r[log + 32] = 0;
        for (std::size_t b = 0; b < 6; ++b) r[log + 34 + b] = static_cast<std::uint8_t>(i * 7 + b + 1);
        for (std::size_t b = 0; b < 30; ++b) r[log + 40 + b] = static_cast<std::uint8_t>(i + b + 100);
        put32(r, log + 72, i % 3 == 0 ? 1 : 0);
        put32(r, log + 76, static_cast<std::uint32_t>(i * 1000 + 5));
        put32(r, log + 80, i % 2);
        for (std::size_t b = 0; b < 6; ++b) r[event + b] = static_cast<std::uint8_t>(i * 3 + b + 9);
        for (std::size_t b = 0; b < 30; ++b) r[event + 6 + b] = static_cast<std::uint8_t>(i * 2 + b + 40);
    }
    put_duration(r, at("DeleteOlderThan"), 0, 1, 0, 0);
    put_duration(r, at("CycleLogFor"), 0, 0, 0, 45);
    put_duration(r, at("CycleEvery"), 3, 0, 0, 0);
    r[at("ExportDataLogs")] = 1;
    r[at("ExportTextNewLine")] = 1;
    r[at("ExportChannelHeaderTags")] = 1;
    put_text(r, at("ExportFileName"), "C:\\out\\day.TXT");
    put_text(r, at("EmailMAPIPassword"), "00ff7A");
    put_text(r, at("EmailSMTPPassword"), std::string(512, 'e'));
    return r;
}

TEST(StandSecondLayout, LoadingFillsEveryMirrorFromTheTypedFields) {
    auto r = typed_record();
    const auto typed = r;
    std::string bad;
    ASSERT_EQ(fill_second_layout(r, bad), 0);
    for (std::size_t i = 0; i < 64; ++i) {
        const std::size_t log = 22964 + 84 * i;
        const std::size_t event = 28340 + 36 * i;
        EXPECT_EQ(r[5873 + i], i % 2) << i;
        EXPECT_EQ(u32(r, 6372 + 4 * i), i % 3 == 0 ? 1u : 0u) << i;
        EXPECT_EQ(u32(r, 14032 + 4 * i), i * 1000 + 5) << i;
        EXPECT_EQ(0, std::memcmp(&r[6628 + 6 * i], &typed[log + 34], 6)) << i;
        EXPECT_EQ(0, std::memcmp(&r[7012 + 6 * i], &typed[event], 6)) << i;
        EXPECT_EQ(0, std::memcmp(&r[15588 + 33 * i], &typed[log], 33)) << i;
        EXPECT_EQ(0, std::memcmp(&r[18773 + 30 * i], &typed[log + 40], 30)) << i;
        EXPECT_EQ(0, std::memcmp(&r[20693 + 30 * i], &typed[event + 6], 30)) << i;
    }
    for (std::size_t j = 0; j < 16; ++j) {
        const std::size_t log = 22964 + 84 * j;
        const std::size_t event = 28340 + 36 * j;
        EXPECT_EQ(0, std::memcmp(&r[62 + 6 * j], &typed[log + 34], 6)) << j;
        EXPECT_EQ(0, std::memcmp(&r[182 + 6 * j], &typed[event], 6)) << j;
        EXPECT_EQ(0, std::memcmp(&r[549 + 24 * j], &typed[log + 40], 12)) << j;
        EXPECT_EQ(0, std::memcmp(&r[933 + 24 * j], &typed[event + 6], 12)) << j;
        for (std::size_t b = 12; b < 24; ++b) {
            EXPECT_EQ(r[549 + 24 * j + b], 0) << j;
            EXPECT_EQ(r[933 + 24 * j + b], 0) << j;
        }
        const bool bit = (r[180 + j / 8] & (0x80 >> (j % 8))) != 0;
        EXPECT_EQ(bit, j % 3 == 0) << j;
    }
    EXPECT_EQ(r[29], 7);   // one day
    EXPECT_EQ(r[30], 0);   // 45 minutes
    EXPECT_EQ(r[31], 12);  // three months
    EXPECT_EQ(r[5863], 0x01 | 0x08 | 0x80);
    EXPECT_EQ(r[3531], 4);
    EXPECT_EQ(r[5872], 1);
    EXPECT_EQ(r[13240], 1);
    EXPECT_EQ(u32(r, 13244), 3u);
    EXPECT_EQ(r[13248], 0x00);
    EXPECT_EQ(r[13249], 0xff);
    EXPECT_EQ(r[13250], 0x7a);
    EXPECT_EQ(u32(r, 13504), 0u);
    EXPECT_EQ(u32(r, 13764), 256u);
    for (std::size_t b = 0; b < 256; ++b) ASSERT_EQ(r[13768 + b], 0xee) << b;
}

TEST(StandSecondLayout, ARecordWithOnlyTheSecondLayoutGivesItsTypedFields) {
    auto loaded = typed_record();
    std::string bad;
    ASSERT_EQ(fill_second_layout(loaded, bad), 0);
    // Keep only the second layout: the typed channel arrays, export booleans and password
    // texts are cleared, as in a record written by an older program.
    auto r = loaded;
    std::memset(&r[22964], 0, 5376 + 2304);
    for (auto name : {"ExportDataLogs", "ExportTextNewLine", "ExportChannelHeaderTags"}) r[at(name)] = 0;
    for (auto name : {"EmailMAPIPassword", "EmailNTPassword", "EmailSMTPPassword"}) std::memset(&r[at(name)], 0, 514);
    fill_typed_fields(r);
    auto expected = loaded;
    // Password texts come back in lower case.
    std::memcpy(&expected[at("EmailMAPIPassword")], "00ff7a", 6);
    EXPECT_EQ(r, expected);
}

TEST(StandSecondLayout, HostilePasswordCountsStayInsideTheirAreas) {
    struct Case {
        std::int32_t count;
        std::size_t digits;
    };
    for (const Case c : {Case{-1, 0}, Case{INT32_MIN, 0}, Case{0, 0}, Case{2, 4}, Case{256, 512}, Case{257, 512},
                         Case{INT32_MAX, 512}}) {
        std::vector<std::uint8_t> r(kStandRecordSize, 0xAB);
        put32(r, 13504, static_cast<std::uint32_t>(c.count));
        fill_typed_fields(r);
        const std::size_t text = at("EmailNTPassword");
        std::size_t len = 0;
        while (len < 514 && r[text + len] != 0) ++len;
        EXPECT_EQ(len, c.digits) << c.count;
        // The text stays terminated, and the counted area and the next count are only read.
        EXPECT_EQ(r[text + 513], 0) << c.count;
        EXPECT_EQ(r[13508 + 255], 0xAB) << c.count;
        EXPECT_EQ(u32(r, 13764), 0xABABABABu) << c.count;
    }
}

TEST(StandSecondLayout, ABadPasswordTextNamesItsFieldAndChangesNothing) {
    const struct {
        const char* field;
        std::string text;
    } cases[] = {
        {"EmailMAPIPassword", "abc"},
        {"EmailNTPassword", "zz"},
        {"EmailSMTPPassword", std::string(514, '0')},
        {"EmailNTPassword", "0g"},
    };
    for (const auto& c : cases) {
        auto r = typed_record();
        std::memset(&r[at(c.field)], 0, 514);
        std::memcpy(&r[at(c.field)], c.text.data(), std::min<std::size_t>(c.text.size(), 514));
        const auto before = r;
        std::string bad;
        EXPECT_EQ(fill_second_layout(r, bad), -1) << c.field;
        EXPECT_EQ(bad, c.field);
        EXPECT_EQ(r, before) << c.field;
    }
}

TEST(RepubCycleCodes, EachDurationHasItsCode) {
    std::vector<std::uint8_t> r(kRepubRecordSize, 0);
    put_duration(r, find_field(kRepubFields, "DeleteSourceOlderThan")->offset, 0, 0, 0, 30);
    put_duration(r, find_field(kRepubFields, "DeleteDestinationOlderThan")->offset, 0, 7, 0, 0);
    put_duration(r, find_field(kRepubFields, "CyclePublishFor")->offset, 0, 0, 12, 0);
    put_duration(r, find_field(kRepubFields, "CycleEvery")->offset, 0, 0, 0, 45);
    fill_repub_cycle_codes(r);
    EXPECT_EQ(r[29], 1);
    EXPECT_EQ(r[30], 8);
    EXPECT_EQ(r[31], 6);
    EXPECT_EQ(r[32], 0);
}

}  // namespace
