#include "qvr/util/util_structs.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "tslib/typed_mem.h"

namespace {

struct Device {
    char tag[8];
    int32_t port;
};

constexpr StructsType kTagType = structs_fixedstring_type(8);
constexpr StructsField kDeviceFields[] = {
    structs_field("Tag", kTagType, offsetof(Device, tag)),
    structs_field("Port", structs_type_int32, offsetof(Device, port)),
    structs_field_end(),
};
constexpr StructsType kDeviceType = structs_struct_type(sizeof(Device), kDeviceFields);

}  // namespace

TEST(UtilFixedString, ComparesAndCopiesWithinTheTypeSize) {
    typed_mem_turn_on();
    // Full buffers without a terminating zero stay within their eight bytes.
    const char full_a[8] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
    const char full_b[8] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
    const char other[8] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'X'};
    const char short_a[8] = "abc\0zzz";
    const char short_b[8] = "abc\0yyy";
    EXPECT_EQ(util_FixedStringEqual(&kTagType, full_a, full_b), 1);
    EXPECT_EQ(util_FixedStringEqual(&kTagType, full_a, other), 0);
    EXPECT_EQ(util_FixedStringEqual(&kTagType, short_a, short_b), 1) << "bytes after the zero do not count";

    char* text = util_FixedStringText(&kTagType, "test_tag", full_a);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "ABCDEFGH");
    char name[24];
    ASSERT_NE(typed_mem_type_of(text, name), nullptr);
    EXPECT_STREQ(name, "test_tag");
    typed_mem_release("test_tag", text);
    text = util_FixedStringText(&kTagType, "test_tag", short_a);
    EXPECT_STREQ(text, "abc");
    typed_mem_release("test_tag", text);
    EXPECT_EQ(util_FixedStringText(&kTagType, "test_tag", nullptr), nullptr);
}

TEST(StructsEqualField, ComparesOneFieldOrReportsAnUnknownPath) {
    Device a{"PLC1", 3};
    Device b{"PLC1", 4};
    EXPECT_EQ(structs_equal_field(&kDeviceType, "Tag", &a, &b), 1);
    EXPECT_EQ(structs_equal_field(&kDeviceType, "Port", &a, &b), 0);
    b.port = 3;
    EXPECT_EQ(structs_equal_field(&kDeviceType, "", &a, &b), 1);
    errno = 0;
    EXPECT_EQ(structs_equal_field(&kDeviceType, "Baud", &a, &b), -1);
    EXPECT_EQ(errno, ENOENT);
}
