// Where each file type keeps a channel's value, and the conversion both ways.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "tolva_sc/value_convert.h"

namespace {

using tolva::ElementAccess;
using tolva::NormalAddress;
using tolva::Stored;
using Bytes = std::vector<uint8_t>;

constexpr int kO = 0, kI = 1, kS = 2, kB = 3, kT = 4, kC = 5, kR = 6, kN = 7, kF = 8, kW = 9;

ElementAccess access(int type, bool digital, int sub, int mnemonic = -1) {
    const auto a =
        tolva::element_access(type, digital, NormalAddress{0, static_cast<int16_t>(sub)}, mnemonic);
    EXPECT_TRUE(a.has_value()) << type << " " << sub << " " << mnemonic;
    return a.value_or(ElementAccess{});
}

TEST(ValueConvert, ElementSizesAndBlockLimits) {
    const int sizes[] = {2, 2, 2, 2, 6, 6, 6, 2, 4, 2};
    for (int t = 0; t < 10; ++t) EXPECT_EQ(tolva::element_size(t), sizes[t]) << t;
    EXPECT_EQ(tolva::max_block_elements(kN), 41);
    EXPECT_EQ(tolva::max_block_elements(kT), 13);
    EXPECT_EQ(tolva::max_block_elements(kF), 20);
}

TEST(ValueConvert, AddressesOutsideTheirElementHaveNoAccess) {
    struct Case {
        const char* name;
        int type;
        bool digital;
        int sub;
        int mnemonic;
    };
    const Case cases[] = {
        {"B bit -1", kB, true, -1, -1},         {"B bit 16", kB, true, 16, -1},
        {"O digital bit -1", kO, true, -1, -1}, {"S digital bit 16", kS, true, 16, -1},
        {"W analog word 1", kW, false, 1, -1},  {"I analog word -2", kI, false, -2, -1},
        {"T mnemonic 5", kT, false, 0, 5},      {"T mnemonic -1", kT, false, 0, -1},
        {"C mnemonic 8", kC, true, 0, 8},       {"R mnemonic 10", kR, true, 0, 10},
        {"file type 10", 10, false, 0, -1},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(tolva::element_access(c.type, c.digital, NormalAddress{0, static_cast<int16_t>(c.sub)},
                                           c.mnemonic))
            << c.name;
    }
}

TEST(ValueConvert, ElementsReadAsTheirFileTypeSays) {
    struct Case {
        const char* name;
        int type;
        bool digital;
        int sub;
        int mnemonic;
        Bytes element;
        float value;
    };
    const Case cases[] = {
        {"N word", kN, false, -1, -1, {0x34, 0x12}, 4660.0f},
        {"N negative word", kN, false, -1, -1, {0xFF, 0xFF}, -1.0f},
        {"N word in a digital channel", kN, true, -1, -1, {0x02, 0x00}, 2.0f},
        {"B bit 5 set", kB, true, 5, -1, {0x20, 0x00}, 1.0f},
        {"B bit 13 clear", kB, true, 13, -1, {0xFF, 0xDF}, 0.0f},
        {"T PRE", kT, false, -1, 0, {0, 0, 0x64, 0, 0x05, 0}, 100.0f},
        {"T ACC", kT, false, -1, 1, {0, 0, 0x64, 0, 0x05, 0}, 5.0f},
        {"T DN", kT, true, -1, 2, {0x00, 0x20, 0, 0, 0, 0}, 1.0f},
        {"T EN", kT, true, -1, 4, {0x00, 0x20, 0, 0, 0, 0}, 0.0f},
        {"C UN", kC, true, -1, 3, {0x00, 0x08, 0, 0, 0, 0}, 1.0f},
        {"C ACC negative", kC, false, -1, 1, {0, 0, 0, 0, 0x00, 0x80}, -32768.0f},
        {"R LEN", kR, false, -1, 0, {0, 0, 0x0A, 0, 0, 0}, 10.0f},
        {"R FD", kR, true, -1, 2, {0x00, 0x01, 0, 0, 0, 0}, 1.0f},
        {"O analog word", kO, false, 0, -1, {0x10, 0x00}, 16.0f},
        {"I digital bit 15", kI, true, 15, -1, {0x00, 0x80}, 1.0f},
        {"S analog without word number", kS, false, -1, -1, {0x07, 0x00}, 7.0f},
        {"W digital bit 0", kW, true, 0, -1, {0x01, 0x00}, 1.0f},
    };
    for (const auto& c : cases) {
        const ElementAccess a = access(c.type, c.digital, c.sub, c.mnemonic);
        EXPECT_EQ(tolva::read_element(c.element, a, true), c.value) << c.name;
    }
}

TEST(ValueConvert, FloatWordsAreExchangedOnProcessorsWithoutDirectory) {
    const ElementAccess a = access(kF, false, -1);
    const Bytes in_order{0x00, 0x00, 0xC0, 0x3F};  // 1.5f, low word first
    const Bytes exchanged{0xC0, 0x3F, 0x00, 0x00};
    EXPECT_EQ(tolva::read_element(in_order, a, false), 1.5f);
    EXPECT_EQ(tolva::read_element(exchanged, a, true), 1.5f);

    Bytes e(4, 0);
    EXPECT_EQ(tolva::write_element(e, a, 1.5f, false), Stored::changed);
    EXPECT_EQ(e, in_order);
    EXPECT_EQ(tolva::write_element(e, a, 1.5f, false), Stored::same);
    std::fill(e.begin(), e.end(), 0);
    EXPECT_EQ(tolva::write_element(e, a, 1.5f, true), Stored::changed);
    EXPECT_EQ(e, exchanged);
    std::fill(e.begin(), e.end(), 0);
    EXPECT_EQ(tolva::write_element(e, a, -0.0f, true), Stored::same);  // equal to 0
    EXPECT_EQ(e, Bytes(4, 0));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(tolva::write_element(e, a, nan, true), Stored::changed);
    EXPECT_EQ(tolva::write_element(e, a, nan, true), Stored::same);
}

TEST(ValueConvert, WordsTakeTheIntegerPartHeldToSixteenBits) {
    const ElementAccess a = access(kN, false, -1);
    struct Case {
        float value;
        int16_t word;
    };
    const Case cases[] = {{3.7f, 3},         {-1.5f, -1},         {0.99f, 0},     {32767.0f, 32767},
                          {40000.0f, 32767}, {-40000.0f, -32768}, {1e30f, 32767}, {-32768.9f, -32768}};
    for (const auto& c : cases) {
        Bytes e(2, 0xAA);
        tolva::write_element(e, a, c.value, true);
        EXPECT_EQ(tolva::load_word(e, 0), c.word) << c.value;
    }
}

TEST(ValueConvert, NotANumberAndInfinityAreNotWritten) {
    const float refused[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity()};
    for (float v : refused) {
        Bytes word{0x05, 0x00};
        EXPECT_EQ(tolva::write_element(word, access(kN, false, -1), v, true), Stored::refused);
        EXPECT_EQ(word, (Bytes{0x05, 0x00}));
        Bytes timer{0x00, 0x20, 0x64, 0x00, 0x05, 0x00};
        EXPECT_EQ(tolva::write_element(timer, access(kT, true, -1, 2), v, true), Stored::refused);
        EXPECT_EQ(timer, (Bytes{0x00, 0x20, 0x64, 0x00, 0x05, 0x00}));
    }
}

TEST(ValueConvert, BitsAndWordsChangeOnlyTheirOwnPlace) {
    Bytes timer{0x00, 0x20, 0x64, 0x00, 0x05, 0x00};  // DN set, PRE 100, ACC 5
    EXPECT_EQ(tolva::write_element(timer, access(kT, false, -1, 0), 250.0f, true), Stored::changed);
    EXPECT_EQ(timer, (Bytes{0x00, 0x20, 0xFA, 0x00, 0x05, 0x00}));
    EXPECT_EQ(tolva::write_element(timer, access(kT, true, -1, 4), 1.0f, true), Stored::changed);  // EN
    EXPECT_EQ(timer, (Bytes{0x00, 0xA0, 0xFA, 0x00, 0x05, 0x00}));
    EXPECT_EQ(tolva::write_element(timer, access(kT, true, -1, 2), 1.0f, true), Stored::same);  // DN already
    EXPECT_EQ(tolva::write_element(timer, access(kT, true, -1, 2), 0.5f, true), Stored::changed);  // cut to 0
    EXPECT_EQ(timer, (Bytes{0x00, 0x80, 0xFA, 0x00, 0x05, 0x00}));

    Bytes word{0xFF, 0xFF};
    EXPECT_EQ(tolva::write_element(word, access(kB, true, 3), 0.0f, true), Stored::changed);
    EXPECT_EQ(word, (Bytes{0xF7, 0xFF}));
    EXPECT_EQ(tolva::write_element(word, access(kB, true, 3), -2.0f, true), Stored::changed);
    EXPECT_EQ(word, (Bytes{0xFF, 0xFF}));
}

}  // namespace
