// The compact binary form: its bytes, its round trip and refusal of hostile input.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "structs_test_types.h"
#include "tslib/structs.h"
#include "tslib_test_util.h"

namespace {

using namespace structs_test;
using Bytes = std::vector<std::uint8_t>;

const int kAccounting = typed_mem_turn_on();

class StructsBinaryTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(kAccounting, 0); }
    void TearDown() override { EXPECT_TRUE(tslib_test::live_blocks().empty()) << "blocks leaked"; }
};

struct Wire {
    std::uint16_t Rate;
    char* Name;
    std::int32_t Offset;
    StructsBuffer Blob;
    std::uint8_t Flag;
    StructsArray Words;
    char Tag[4];
    std::uint16_t Codes[2];
    float Gain;
};

constexpr StructsType kTag4Type = structs_fixedstring_type(4);

constexpr StructsField kWireFields[] = {
    structs_field("Rate", structs_type_uint16, offsetof(Wire, Rate)),
    structs_field("Name", structs_type_string, offsetof(Wire, Name)),
    structs_field("Offset", structs_type_int32, offsetof(Wire, Offset)),
    structs_field("Blob", structs_type_data, offsetof(Wire, Blob)),
    structs_field("Flag", structs_type_boolean_char, offsetof(Wire, Flag)),
    structs_field("Words", kWordsType, offsetof(Wire, Words)),
    structs_field("Tag", kTag4Type, offsetof(Wire, Tag)),
    structs_field("Codes", kCodesType, offsetof(Wire, Codes)),
    structs_field("Gain", structs_type_float, offsetof(Wire, Gain)),
    structs_field_end(),
};
constexpr StructsType kWireType = structs_struct_type(sizeof(Wire), kWireFields);

struct DecodeResult {
    ssize_t used;
    int err;
    std::string message;
    bool operator==(const DecodeResult&) const = default;
};

DecodeResult decode(const StructsType* type, const char* path, const Bytes& bytes, void* data) {
    StructsBuffer code{static_cast<std::uint32_t>(bytes.size()), const_cast<std::uint8_t*>(bytes.data())};
    char ebuf[128] = "untouched";
    errno = 0;
    const ssize_t used = structs_set_field_binary(type, path, &code, data, ebuf, sizeof ebuf);
    return DecodeResult{used, used < 0 ? errno : 0, ebuf};
}

void PrintTo(const DecodeResult& r, std::ostream* os) {
    *os << "{" << r.used << ", errno " << r.err << ", \"" << r.message << "\"}";
}

DecodeResult consumed(ssize_t n) {
    return DecodeResult{n, 0, ""};
}

DecodeResult refused(int err, std::string message) {
    return DecodeResult{-1, err, std::move(message)};
}

TEST_F(StructsBinaryTest, AllDefaultStructureIsItsZeroBitmap) {
    Owned<Wire> w(&kWireType);
    EXPECT_EQ(encoded(&kWireType, nullptr, w.get()), (Bytes{0x00, 0x00}));
    Owned<Wire> back(&kWireType);
    ASSERT_EQ(set_text(&kWireType, "Name", "dirty", back.get()), ok());
    EXPECT_EQ(decode(&kWireType, nullptr, {0x00, 0x00}, back.get()), consumed(2));
    EXPECT_EQ(kWireType.equal(&kWireType, w.get(), back.get()), 1);
}

TEST_F(StructsBinaryTest, NonDefaultFieldsFollowTheBitmapInListOrder) {
    Owned<Wire> w(&kWireType);
    ASSERT_EQ(set_text(&kWireType, "Rate", "0x1234", w.get()), ok());
    ASSERT_EQ(set_text(&kWireType, "Name", "ab", w.get()), ok());
    ASSERT_EQ(set_text(&kWireType, "Offset", "-2", w.get()), ok());
    ASSERT_EQ(set_text(&kWireType, "Blob", "AQI=", w.get()), ok());
    ASSERT_EQ(structs_array_set_length(&kWireType, "Words", 3, w.get(), 1), 0);
    ASSERT_EQ(set_text(&kWireType, "Words.1", "x", w.get()), ok());
    ASSERT_EQ(set_text(&kWireType, "Codes.1", "5", w.get()), ok());
    ASSERT_EQ(set_text(&kWireType, "Gain", "1", w.get()), ok());
    const Bytes expected = {
        0xAF, 0x01,              // bitmap: Rate Name Offset Blob Words Codes (bits 0-3, 5, 7); Gain (bit 8)
        0x12, 0x34,              // Rate, most significant byte first
        'a',  'b',  0x00,        // Name
        0xFF, 0xFF, 0xFF, 0xFE,  // Offset
        0x00, 0x00, 0x00, 0x02, 0x01, 0x02,        // Blob: length, bytes
        0x00, 0x00, 0x00, 0x03, 0x02, 'x',  0x00,  // Words: count, bitmap, element 1
        0x02, 0x00, 0x05,                          // Codes: bitmap, element 1
        0x3F, 0x80, 0x00, 0x00,                    // Gain 1.0f
    };
    EXPECT_EQ(encoded(&kWireType, nullptr, w.get()), expected);

    Owned<Wire> back(&kWireType);
    EXPECT_EQ(decode(&kWireType, nullptr, expected, back.get()),
              consumed(static_cast<ssize_t>(expected.size())));
    EXPECT_EQ(kWireType.equal(&kWireType, w.get(), back.get()), 1);
    EXPECT_EQ(text_of(&kWireType, "Words.1", back.get()), "x");

    // Bytes after the encoding are not consumed.
    Bytes longer = expected;
    longer.push_back(0xEE);
    EXPECT_EQ(decode(&kWireType, nullptr, longer, back.get()),
              consumed(static_cast<ssize_t>(expected.size())));
}

TEST_F(StructsBinaryTest, ArraysOnTheirOwn) {
    StructsArray empty{};
    EXPECT_EQ(encoded(&kWordsType, nullptr, &empty), (Bytes{0, 0, 0, 0}));
    Owned<StructsArray> words(&kWordsType);
    EXPECT_EQ(decode(&kWordsType, nullptr, {0, 0, 0, 9, 0x00, 0x01, 0x00}, words.get()), consumed(7));
    EXPECT_EQ(words->length, 9u);
    EXPECT_EQ(text_of(&kWordsType, "8", words.get()), "");
    EXPECT_EQ(decode(&kWordsType, nullptr, {0, 0, 0, 10, 0x00, 0x02, 'q', 0x00}, words.get()), consumed(8));
    EXPECT_EQ(words->length, 10u);
    EXPECT_EQ(text_of(&kWordsType, "9", words.get()), "q");
    std::uint16_t codes[2] = {0, 0};
    EXPECT_EQ(encoded(&kCodesType, nullptr, codes), (Bytes{0x00}));
}

TEST_F(StructsBinaryTest, HostileCountsAreRefusedBeforeAllocating) {
    Owned<StructsArray> words(&kWordsType);
    const DecodeResult truncated = refused(EINVAL, "encoded array is truncated");
    // A count near 2^32: its bitmap alone would need half a gigabyte of input.
    EXPECT_EQ(decode(&kWordsType, nullptr, {0xFF, 0xFF, 0xFF, 0xFF, 0x00}, words.get()), truncated);
    EXPECT_EQ(decode(&kWordsType, nullptr, {0xFF, 0xFF, 0xFF, 0xF9}, words.get()), truncated);
    EXPECT_EQ(decode(&kWordsType, nullptr, {0x00, 0x00, 0x00, 0x09, 0x00}, words.get()), truncated);
    EXPECT_EQ(decode(&kWordsType, nullptr, {0x00, 0x00}, words.get()), truncated);
    EXPECT_EQ(decode(&kWordsType, nullptr, {}, words.get()), truncated);

    // A count whose bitmap fits but whose element block is above the limit.
    const std::size_t previous = structs_array_set_decode_limit(64);
    EXPECT_EQ(previous, kStructsArrayDecodeLimit);
    Bytes nine_elements = {0, 0, 0, 9, 0, 0};  // 9 x 8 bytes
    EXPECT_EQ(decode(&kWordsType, nullptr, nine_elements, words.get()),
              refused(EINVAL, "encoded array is too large"));
    Bytes eight_elements = {0, 0, 0, 8, 0};
    EXPECT_EQ(decode(&kWordsType, nullptr, eight_elements, words.get()), consumed(5));
    structs_array_set_decode_limit(previous);
    EXPECT_EQ(words->length, 8u) << "the last good value stays";
}

constexpr StructsType kWordListsType = structs_array_type(&kWordsType, "test_word_lists", "list");

// The limit holds for everything one decoding allocates, so arrays inside arrays cannot ask
// for many times the limit between them.
TEST_F(StructsBinaryTest, TheDecodeLimitCoversNestedArraysTogether) {
    static_assert(sizeof(StructsArray) == 16 && sizeof(char*) == 8);
    const std::size_t previous = structs_array_set_decode_limit(64);
    Owned<StructsArray> lists(&kWordListsType);
    // Two lists (32 bytes) of six words (48 bytes each): 128 bytes, each block within 64.
    const Bytes two_lists = {0, 0, 0, 2, 0x03, 0, 0, 0, 6, 0x00, 0, 0, 0, 6, 0x00};
    EXPECT_EQ(decode(&kWordListsType, nullptr, two_lists, lists.get()),
              refused(EINVAL, "encoded array is too large"));
    EXPECT_EQ(lists->length, 0u) << "nothing kept of the refused value";
    // One list of four words: 16 + 32 bytes. Each decoding has the whole limit again.
    const Bytes one_list = {0, 0, 0, 1, 0x01, 0, 0, 0, 4, 0x00};
    EXPECT_EQ(decode(&kWordListsType, nullptr, one_list, lists.get()), consumed(10));
    EXPECT_EQ(decode(&kWordListsType, nullptr, one_list, lists.get()), consumed(10));
    structs_array_set_decode_limit(previous);
    ASSERT_EQ(lists->length, 1u);
    EXPECT_EQ(static_cast<const StructsArray*>(lists->elems)->length, 4u);
}

TEST_F(StructsBinaryTest, DataLengthCannotWrap) {
    Owned<Item> item(&kItemType);
    ASSERT_EQ(set_text(&kItemType, "Blob", "beef", item.get()), ok());
    const DecodeResult corrupted = refused(EINVAL, "encoded data is corrupted");
    // 4 + 0xFFFFFFFE wraps to 2 in 32 bits.
    EXPECT_EQ(decode(&kItemType, "Blob", {0xFF, 0xFF, 0xFF, 0xFE, 0xAA, 0xBB}, item.get()), corrupted);
    EXPECT_EQ(decode(&kItemType, "Blob", {0x00, 0x00, 0x00, 0x03, 0xAA, 0xBB}, item.get()), corrupted);
    EXPECT_EQ(decode(&kItemType, "Blob", {0x00, 0x00, 0x00}, item.get()), corrupted);
    EXPECT_EQ(text_of(&kItemType, "Blob", item.get()), "beef") << "the old value stays";
    EXPECT_EQ(decode(&kItemType, "Blob", {0x00, 0x00, 0x00, 0x01, 0xAA, 0xBB}, item.get()), consumed(5));
    EXPECT_EQ(text_of(&kItemType, "Blob", item.get()), "aa");
    EXPECT_EQ(decode(&kItemType, "Blob", {0x00, 0x00, 0x00, 0x00}, item.get()), consumed(4));
    EXPECT_EQ(item->Blob.data, nullptr);
}

TEST_F(StructsBinaryTest, ShortInputOfEveryFamily) {
    Owned<Wire> w(&kWireType);
    EXPECT_EQ(decode(&kWireType, nullptr, {0x01}, w.get()),
              refused(EINVAL, "encoded structure is truncated"));
    EXPECT_EQ(decode(&kWireType, nullptr, {0x01, 0x00, 0x12}, w.get()),
              refused(EINVAL, "encoded data is truncated"));
    EXPECT_EQ(decode(&kWireType, nullptr, {0x02, 0x00, 'a', 'b'}, w.get()),
              refused(EINVAL, "encoded string is truncated"));
    EXPECT_EQ(decode(&kWireType, "Codes", {}, w.get()), refused(EINVAL, "encoded array is truncated"));
    EXPECT_EQ(decode(&kWireType, "Tag", {'a', 'b', 'c', 'd', 0}, w.get()),
              refused(EINVAL, "string is too long for bounded length buffer"));
    EXPECT_EQ(decode(&kWireType, "Nope", {0}, w.get()), refused(ENOENT, std::strerror(ENOENT)));
    // A set field that fails after others were decoded leaves nothing behind.
    EXPECT_EQ(decode(&kWireType, nullptr, {0x02, 0x01, 'n', 0x00}, w.get()),
              refused(EINVAL, "encoded data is truncated"));
    EXPECT_EQ(text_of(&kWireType, "Name", w.get()), "");

    constexpr StructsType fixed = structs_fixeddata_type(3);
    std::uint8_t three[3] = {};
    EXPECT_EQ(decode(&fixed, nullptr, {1, 2}, three), refused(EINVAL, "encoded data is truncated"));
    EXPECT_EQ(decode(&fixed, nullptr, {1, 2, 3}, three), consumed(3));
    EXPECT_EQ(encoded(&fixed, nullptr, three), (Bytes{1, 2, 3}));

    constexpr StructsType wide{
        .size = 17,
        .name = "wide",
        .tclass = StructsTypeClass::kPrimitive,
        .init = structs_zero_init,
        .copy = structs_byte_copy,
        .equal = structs_byte_equal,
        .ascify = structs_unsupported_ascify,
        .binify = structs_unsupported_binify,
        .encode = structs_reversed_encode,
        .decode = structs_reversed_decode,
        .uninit = structs_noop_uninit,
        .args = {0, 0, 0},
    };
    std::uint8_t big[17] = {};
    EXPECT_EQ(decode(&wide, nullptr, Bytes(17, 1), big), refused(ERANGE, std::strerror(ERANGE)));
}

TEST_F(StructsBinaryTest, UnsupportedTypesSayWhy) {
    Owned<Rec> r(&kRecType);
    EXPECT_EQ(decode(&kRecType, "Choice", {0}, r.get()),
              refused(ENOSYS, "binary decoding is not supported by this structs type"));
    StructsBuffer code{1, nullptr};
    errno = 0;
    EXPECT_EQ(structs_get_field_binary(&kRecType, "Choice", r.get(), kMtype, &code), -1);
    EXPECT_EQ(errno, ENOSYS);
    EXPECT_EQ(code.length, 0u);
    EXPECT_EQ(code.data, nullptr);
}

}  // namespace
