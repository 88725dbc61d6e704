// Request bytes of every command form and the reply check, rule by rule.
#include <gtest/gtest.h>

#include "tolva_sc/pccc_codes.h"
#include "tolva_sc/pccc_message.h"
#include "tolva_sc/station_table.h"

namespace {

using Bytes = std::vector<uint8_t>;
using tolva::pccc::BlockAddress;
using tolva::pccc::Variant;

Bytes with_header(uint8_t cmd, Bytes rest) {
    Bytes m{0x03, 0x00, cmd, 0x00, 0x55, 0x00};
    m.insert(m.end(), rest.begin(), rest.end());
    return m;
}

struct RequestCase {
    const char* name;
    Bytes built;
    Bytes expected;
};

TEST(PcccRequests, EveryCommandFormHasItsExactBytes) {
    using namespace tolva::pccc;
    const Bytes data4{0x11, 0x22, 0x33, 0x44};
    const Bytes data6{1, 2, 3, 4, 5, 6};
    const RequestCase cases[] = {
        {"directory header", directory_read_request(3, 0x55, 4, 0),
         with_header(0x0F, {0xA1, 0x04, 0x00, 0x60, 0x00})},
        {"directory entries far out", directory_read_request(3, 0x55, 78, 300),
         with_header(0x0F, {0xA1, 0x4E, 0x00, 0x60, 0xFF, 0x2C, 0x01})},
        {"diagnostic status", diagnostic_status_request(3, 0x55), with_header(0x06, {0x03})},
        {"file 9 read", block_read_request({3, 9, 9, 300, 10}, Variant::unprotected, 0x55),
         with_header(0x01, {0x2C, 0x01, 0x0A})},
        {"typed read N7:0", block_read_request({3, 7, 7, 0, 82}, Variant::typed, 0x55),
         with_header(0x0F, {0xA2, 0x52, 0x07, 0x89, 0x00, 0x00})},
        {"typed read, file and element escaped",
         block_read_request({3, 7, 300, 255, 2}, Variant::typed, 0x55),
         with_header(0x0F, {0xA2, 0x02, 0xFF, 0x2C, 0x01, 0x89, 0xFF, 0xFF, 0x00, 0x00})},
        {"typed read O0:0", block_read_request({3, 0, 0, 0, 2}, Variant::typed, 0x55),
         with_header(0x0F, {0xA2, 0x02, 0x00, 0x82, 0x00, 0x00})},
        {"typed read W", block_read_request({3, 9, 10, 1, 2}, Variant::typed, 0x55),
         with_header(0x0F, {0xA2, 0x02, 0x0A, 0x8B, 0x01, 0x00})},
        {"word-range read, element 300", block_read_request({3, 7, 7, 300, 2}, Variant::word_range, 0x55),
         with_header(0x0F, {0x01, 0x00, 0x00, 0x01, 0x00, 0x07, 0x00, 0x07, 0xFF, 0x2C, 0x01, 0x02})},
        {"word-range read, element 254", block_read_request({3, 4, 4, 254, 78}, Variant::word_range, 0x55),
         with_header(0x0F, {0x01, 0x00, 0x00, 0x27, 0x00, 0x07, 0x00, 0x04, 0xFE, 0x4E})},
        {"word-range read, file 256", block_read_request({3, 7, 256, 1, 4}, Variant::word_range, 0x55),
         with_header(0x0F, {0x01, 0x00, 0x00, 0x02, 0x00, 0x07, 0x00, 0xFF, 0x00, 0x01, 0x01, 0x04})},
        {"file 9 write", block_write_request({3, 9, 9, 5, 4}, Variant::unprotected, 0x55, data4),
         with_header(0x08, {0x05, 0x00, 0x11, 0x22, 0x33, 0x44})},
        {"typed write T4:2", block_write_request({3, 4, 4, 2, 6}, Variant::typed, 0x55, data6),
         with_header(0x0F, {0xAA, 0x06, 0x04, 0x86, 0x02, 0x00, 1, 2, 3, 4, 5, 6})},
        {"typed write, element 255", block_write_request({3, 3, 3, 255, 4}, Variant::typed, 0x55, data4),
         with_header(0x0F, {0xAA, 0x04, 0x03, 0x85, 0xFF, 0xFF, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44})},
        {"word-range write F8:1", block_write_request({3, 8, 8, 1, 4}, Variant::word_range, 0x55, data4),
         with_header(0x0F, {0x00, 0x00, 0x00, 0x02, 0x00, 0x07, 0x00, 0x08, 0x01, 0x11, 0x22, 0x33, 0x44})},
    };
    for (const auto& c : cases) EXPECT_EQ(c.built, c.expected) << c.name;
}

TEST(PcccRequests, AddressFieldsEscapeFrom255) {
    struct Case {
        uint16_t value;
        Bytes bytes;
    };
    const Case cases[] = {{0, {0x00}},
                          {254, {0xFE}},
                          {255, {0xFF, 0xFF, 0x00}},
                          {300, {0xFF, 0x2C, 0x01}},
                          {65535, {0xFF, 0xFF, 0xFF}}};
    for (const auto& c : cases) {
        Bytes m;
        tolva::pccc::append_address(m, c.value);
        EXPECT_EQ(m, c.bytes) << c.value;
    }
}

TEST(PcccRequests, VariantFollowsFileNineAndTheProcessorNibble) {
    using tolva::pccc::variant_for;
    EXPECT_EQ(variant_for(9, 0x4E), Variant::unprotected);
    EXPECT_EQ(variant_for(9, 0x49), Variant::unprotected);
    EXPECT_EQ(variant_for(7, 0x4E), Variant::typed);
    EXPECT_EQ(variant_for(7, 0xFE), Variant::typed);
    EXPECT_EQ(variant_for(7, 0xE4), Variant::word_range);
    EXPECT_EQ(variant_for(7, 0x00), Variant::word_range);
}

TEST(PcccRequests, TransactionNumbersStartAt0x55AndWrap) {
    tolva::pccc::TransactionCounter counter;
    EXPECT_EQ(counter.next(), 0x55);
    EXPECT_EQ(counter.next(), 0x56);
    for (int i = 0; i < 0xFFFF - 0x56; ++i) counter.next();
    EXPECT_EQ(counter.last(), 0xFFFF);
    EXPECT_EQ(counter.next(), 0x0000);
}

TEST(PcccReplyCheck, RulesApplyInOrder) {
    const Bytes request = tolva::pccc::block_read_request({3, 7, 7, 0, 2}, Variant::typed, 0x55);
    auto reply = [](uint8_t src, uint8_t cmd, uint8_t sts, uint16_t tns, Bytes data = {}) {
        Bytes r{0x00, src, cmd, sts, static_cast<uint8_t>(tns & 0xFF), static_cast<uint8_t>(tns >> 8)};
        r.insert(r.end(), data.begin(), data.end());
        return r;
    };
    struct Case {
        const char* name;
        Bytes reply;
        std::optional<uint8_t> module;
        int code;
    };
    const Case cases[] = {
        {"good", reply(3, 0x4F, 0x00, 0x55, {1, 2}), std::nullopt, 0},
        {"from the module", reply(9, 0x4F, 0x02, 0x55), 9, 0x2000001},
        {"from the module, wrong command too", reply(9, 0x41, 0x00, 0x56), 9, 0x2000001},
        {"other station, module unknown", reply(9, 0x4F, 0x00, 0x55), std::nullopt, 0x2000003},
        {"other station, other module", reply(9, 0x4F, 0x00, 0x55), 8, 0x2000003},
        {"wrong command", reply(3, 0x4E, 0x00, 0x55), std::nullopt, 0x2000002},
        {"wrong command before TNS", reply(3, 0x0F, 0x10, 0x99), std::nullopt, 0x2000002},
        {"other transaction", reply(3, 0x4F, 0x00, 0x56), std::nullopt, 0x2000003},
        {"TNS before status", reply(3, 0x4F, 0x10, 0x54), std::nullopt, 0x2000003},
        {"local", reply(3, 0x4F, 0x05, 0x55), std::nullopt, 0x3000005},
        {"local nibble before remote", reply(3, 0x4F, 0x15, 0x55), std::nullopt, 0x3000005},
        {"local nibble before extended", reply(3, 0x4F, 0xF3, 0x55, {0x07}), std::nullopt, 0x3000003},
        {"remote", reply(3, 0x4F, 0x10, 0x55), std::nullopt, 0x4000001},
        {"remote high", reply(3, 0x4F, 0xE0, 0x55), std::nullopt, 0x400000E},
        {"extended", reply(3, 0x4F, 0xF0, 0x55, {0x07}), std::nullopt, 0x5000007},
        {"extended without its byte", reply(3, 0x4F, 0xF0, 0x55), std::nullopt, 0x5000000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tolva::pccc::check_reply(request, c.reply, c.module), c.code) << c.name;
    }
}

TEST(PcccCodes, FamilyWordsAndStationTexts) {
    using tolva::station_error_text;
    EXPECT_EQ(station_error_text(3, 7, 0x4000001), "S3 F7: Remote 0x1");
    EXPECT_EQ(station_error_text(3, 7, 0x1000001), "S3 F7: Data Link 0x1");
    EXPECT_EQ(station_error_text(12, 300, 0x2000004), "S12 F300: App 0x4");
    EXPECT_EQ(station_error_text(3, 7, 0x5000007), "S3 F7: Extended 0x7");
    EXPECT_EQ(station_error_text(3, 7, 0x3000005), "S3 F7: Local 0x5");
    EXPECT_EQ(station_error_text(3, 7, 5), "S3 F7: Win32 0x5");
    // Cut to 30 characters; only the low 24 bits show.
    const std::string long_text = station_error_text(255, 65535, 0x7FABCDEF);
    EXPECT_EQ(long_text, std::string("S255 F65535: Win32 0xabcdef").substr(0, 30));
    EXPECT_LE(station_error_text(255, 65535, 0x01FFFFFF).size(), 30u);
    EXPECT_EQ(station_error_text(255, 65535, 0x01FFFFFF), "S255 F65535: Data Link 0xfffff");
}

}  // namespace
