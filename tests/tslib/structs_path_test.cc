// Field paths, leaf names and the operations on a field found by path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "structs_test_types.h"
#include "tslib/structs.h"
#include "tslib_test_util.h"

namespace {

using namespace structs_test;

const int kAccounting = typed_mem_turn_on();

// A record with three items ("a", "b", "c"), two words, codes {7, 9} and the union on its
// first member.
class StructsPathTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(kAccounting, 0);
        ASSERT_EQ(rec.init_rc(), 0);
        ASSERT_EQ(structs_array_set_length(&kRecType, "Items", 3, rec.get(), 1), 0);
        ASSERT_EQ(structs_array_set_length(&kRecType, "Words", 2, rec.get(), 1), 0);
        ASSERT_EQ(set_text(&kRecType, "Items.0.Name", "a", rec.get()), ok());
        ASSERT_EQ(set_text(&kRecType, "Items.1.Name", "b", rec.get()), ok());
        ASSERT_EQ(set_text(&kRecType, "Items.2.Name", "c", rec.get()), ok());
        rec->Codes[0] = 7;
        rec->Codes[1] = 9;
    }
    void TearDown() override {
        // Released here so the leak check sees it; releasing a released record is harmless.
        structs_free_field(&kRecType, nullptr, rec.get());
        EXPECT_TRUE(tslib_test::live_blocks().empty()) << "blocks leaked";
    }
    Owned<Rec> rec{&kRecType};
};

std::string err(int code) {
    return "errno " + std::to_string(code);
}

TEST_F(StructsPathTest, ResolutionTable) {
    struct Case {
        const char* path;
        std::string text;
    };
    const Case cases[] = {
        {"Items.length", "3"},
        {"Items.2.Name", "c"},
        {"Items.02.Name", "c"},
        {"Items.3", err(EDOM)},  // index = length
        {"Items.3.Name", err(EDOM)},
        {"Items.4294967296", err(EDOM)},
        {"Items.99999999999999999999999", err(EDOM)},
        {"Items.x", err(ENOENT)},
        {"Items.-1", err(ENOENT)},
        {"Items.+1", err(ENOENT)},
        {"Items. 1", err(ENOENT)},
        {"Items.1x", err(ENOENT)},
        {"Items.length.x", err(ENOENT)},  // "length" only as the last component
        {"Items.0.length", err(ENOENT)},
        {"Items", err(ENOSYS)},
        {"Scan", "False"},
        {"ScanRate", "0"},  // Scan is listed first and is a prefix of it
        {"ScanR", err(ENOENT)},
        {"Sca", err(ENOENT)},
        {"Comm.Port", "0"},
        {"Comm.Port.x", err(ENOENT)},
        {"Comm..Port", err(ENOENT)},
        {"Comm.", err(ENOENT)},
        {".Comm", err(ENOENT)},
        {".", err(ENOENT)},
        {"Comm", err(ENOSYS)},
        {"Codes.length", "2"},
        {"Codes.1", "9"},
        {"Codes.2", err(EDOM)},
        {"Choice.field_name", "Number"},
        {"Choice.Number", "0"},
        {"Choice.Text", err(ENOENT)},  // another member, without the union-change flag
        {"Choice.field_name.x", err(ENOENT)},
        {"", err(ENOSYS)},
        {"Nope", err(ENOENT)},
    };
    for (const Case& c : cases) EXPECT_EQ(text_of(&kRecType, c.path, rec.get()), c.text) << c.path;
    EXPECT_EQ(text_of(&kRecType, nullptr, rec.get()), err(ENOSYS));
}

TEST_F(StructsPathTest, FindFieldGivesTheSubFieldAddress) {
    void* at = rec.get();
    EXPECT_EQ(structs_find_field(&kRecType, "Comm.Baud", &at, 0), &structs_type_uint16);
    EXPECT_EQ(at, &rec->Link.Baud);
    at = rec.get();
    EXPECT_EQ(structs_find_field(&kRecType, "Items.1.Value", &at, 0), &structs_type_int16);
    EXPECT_EQ(at, &static_cast<Item*>(rec->Items.elems)[1].Value);
    at = rec.get();
    EXPECT_EQ(structs_find_field(&kRecType, "", &at, 0), &kRecType);
    EXPECT_EQ(at, rec.get());
    at = rec.get();
    errno = 0;
    EXPECT_EQ(structs_find_field(&kRecType, "Comm.Nope", &at, 0), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(at, rec.get()) << "a failed resolution leaves the pointer";
}

TEST_F(StructsPathTest, PseudoFieldsCannotBeWritten) {
    const SetResult unsupported = failed(ENOSYS, "parsing from ASCII is not supported by this structs type");
    EXPECT_EQ(set_text(&kRecType, "Items.length", "5", rec.get()), unsupported);
    EXPECT_EQ(set_text(&kRecType, "Codes.length", "5", rec.get()), unsupported);
    EXPECT_EQ(set_text(&kRecType, "Choice.field_name", "Text", rec.get()), unsupported);

    // Initialising, resetting, copying over or decoding into them would detach the count
    // from the element block (or write into the description).
    errno = 0;
    EXPECT_EQ(structs_init_field(&kRecType, "Items.length", rec.get()), -1);
    EXPECT_EQ(errno, ENOSYS);
    EXPECT_EQ(structs_reset_field(&kRecType, "Codes.length", rec.get()), -1);
    const std::uint32_t five = 5;
    errno = 0;
    EXPECT_EQ(structs_set_field(&kRecType, &five, "Items.length", rec.get()), -1);
    EXPECT_EQ(errno, ENOSYS);
    EXPECT_EQ(structs_set_field(&kRecType, &five, "Codes.length", rec.get()), -1);
    const std::uint8_t code_bytes[] = {0, 0, 0, 5};
    StructsBuffer code{4, const_cast<std::uint8_t*>(code_bytes)};
    EXPECT_EQ(structs_set_field_binary(&kRecType, "Items.length", &code, rec.get(), nullptr, 0), -1);
    EXPECT_EQ(text_of(&kRecType, "Items.length", rec.get()), "3");
    EXPECT_EQ(text_of(&kRecType, "Codes.length", rec.get()), "2");

    // Reading them as values works.
    std::uint32_t n = 0;
    EXPECT_EQ(structs_get_field(&kRecType, "Items.length", rec.get(), &n), 0);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(encoded(&kRecType, "Codes.length", rec.get()), (std::vector<std::uint8_t>{0, 0, 0, 2}));
}

TEST_F(StructsPathTest, LeafNamesInListOrder) {
    // The layout of the example: a structure Comm (Port, Baud) followed by two codes.
    struct Small {
        Comm c;
        std::uint16_t codes[2];
    };
    static constexpr StructsField fields[] = {
        structs_field("Comm", kCommType, offsetof(Small, c)),
        structs_field("Codes", kCodesType, offsetof(Small, codes)),
        structs_field_end(),
    };
    static constexpr StructsType small = structs_struct_type(sizeof(Small), fields);
    Small s{};
    EXPECT_EQ(leaf_names(&small, &s),
              (std::vector<std::string>{"Comm.Port", "Comm.Baud", "Codes.0", "Codes.1"}));

    EXPECT_EQ(leaf_names(&kRecType, rec.get()),
              (std::vector<std::string>{
                  "Scan", "ScanRate", "Comm.Port", "Comm.Baud", "Codes.0", "Codes.1", "Tag", "Items.0.Name",
                  "Items.0.Value", "Items.0.Blob", "Items.1.Name", "Items.1.Value", "Items.1.Blob",
                  "Items.2.Name", "Items.2.Value", "Items.2.Blob", "Words.0", "Words.1", "Choice.Number"}));
    // A leaf on its own has the empty name.
    std::uint8_t b = 0;
    EXPECT_EQ(leaf_names(&structs_type_uint8, &b), (std::vector<std::string>{""}));
}

TEST_F(StructsPathTest, EveryLeafReadsBackItsOwnText) {
    for (const std::string& name : leaf_names(&kRecType, rec.get())) {
        const std::string before = text_of(&kRecType, name.c_str(), rec.get());
        ASSERT_EQ(set_text(&kRecType, name.c_str(), before.c_str(), rec.get()), ok()) << name;
        EXPECT_EQ(text_of(&kRecType, name.c_str(), rec.get()), before) << name;
    }
}

TEST_F(StructsPathTest, UnionMembersChangeOnlyThroughSetText) {
    EXPECT_EQ(set_text(&kRecType, "Choice.Number", "-5", rec.get()), ok());
    EXPECT_EQ(set_text(&kRecType, "Choice.Text", "hello", rec.get()), ok());
    EXPECT_EQ(text_of(&kRecType, "Choice.field_name", rec.get()), "Text");
    EXPECT_EQ(text_of(&kRecType, "Choice.Text", rec.get()), "hello");
    EXPECT_EQ(set_text(&kRecType, "Choice.Pair.Baud", "19200", rec.get()), ok());
    EXPECT_EQ(text_of(&kRecType, "Choice.field_name", rec.get()), "Pair");
    EXPECT_EQ(text_of(&kRecType, "Choice.Pair.Port", rec.get()), "0")
        << "the new member starts at its default";
    EXPECT_EQ(leaf_names(&kRecType, rec.get()).back(), "Choice.Pair.Baud");

    // A failure on the way leaves the union as it was.
    EXPECT_EQ(set_text(&kRecType, "Choice.Bogus", "1", rec.get()).err, ENOENT);
    EXPECT_EQ(set_text(&kRecType, "Choice.Text.x", "1", rec.get()).err, ENOENT);
    EXPECT_EQ(text_of(&kRecType, "Choice.Pair.Baud", rec.get()), "19200");
    EXPECT_EQ(tslib_test::live_blocks()["test_union"].count, 1u);
}

TEST_F(StructsPathTest, UnionWithAnUnlistedMemberIsRefused) {
    structs_free_field(&kRecType, "Choice", rec.get());
    static const char kStray[] = "Stray";
    rec->Choice.field_name = kStray;
    EXPECT_EQ(text_of(&kRecType, "Choice.Number", rec.get()), err(EINVAL));
    char** names = nullptr;
    errno = 0;
    EXPECT_EQ(structs_list_leaf_names(&kRecType, rec.get(), &names, kMtype), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(names, nullptr);
    EXPECT_EQ(tslib_test::live_blocks().count(kMtype), 0u) << "the names made so far are released";
    rec->Choice.field_name = nullptr;
    ASSERT_EQ(structs_init_field(&kRecType, "Choice", rec.get()), 0);
}

TEST_F(StructsPathTest, MessagesFallBackToTheErrnoText) {
    EXPECT_EQ(set_text(&kRecType, "Nope", "1", rec.get()), failed(ENOENT, std::strerror(ENOENT)));
    EXPECT_EQ(set_text(&kRecType, "Items.9.Name", "1", rec.get()), failed(EDOM, std::strerror(EDOM)));
    EXPECT_EQ(set_text(&kRecType, "Comm", "1", rec.get()),
              failed(ENOSYS, "parsing from ASCII is not supported by this structs type"));
    // The message is cut to the buffer.
    char small[6];
    EXPECT_EQ(structs_set_field_text(&kRecType, "Comm.Port", "x", rec.get(), small, sizeof small), -1);
    EXPECT_STREQ(small, "inval");
    EXPECT_EQ(structs_set_field_text(&kRecType, "Comm.Port", "x", rec.get(), nullptr, 0), -1);
}

TEST_F(StructsPathTest, GetSetResetAndFreeByPath) {
    // A deep copy out of the record.
    StructsArray items{};
    ASSERT_EQ(structs_get_field(&kRecType, "Items", rec.get(), &items), 0);
    ASSERT_EQ(items.length, 3u);
    auto* copied = static_cast<Item*>(items.elems);
    EXPECT_NE(copied[0].Name, static_cast<Item*>(rec->Items.elems)[0].Name);
    EXPECT_STREQ(copied[2].Name, "c");

    // ... and back over another field: the old element is released.
    ASSERT_EQ(structs_set_field(&kRecType, &copied[2], "Items.0", rec.get()), 0);
    EXPECT_EQ(text_of(&kRecType, "Items.0.Name", rec.get()), "c");
    kItemsType.uninit(&kItemsType, &items);

    ASSERT_EQ(set_text(&kRecType, "Items.1.Value", "12", rec.get()), ok());
    ASSERT_EQ(structs_reset_field(&kRecType, "Items.1", rec.get()), 0);
    EXPECT_EQ(text_of(&kRecType, "Items.1.Name", rec.get()), "");
    EXPECT_EQ(text_of(&kRecType, "Items.1.Value", rec.get()), "0");

    errno = EXDEV;
    EXPECT_EQ(structs_free_field(&kRecType, "Words", rec.get()), 0);
    EXPECT_EQ(errno, EXDEV) << "errno is kept";
    EXPECT_EQ(rec->Words.length, 0u);
    EXPECT_EQ(rec->Words.elems, nullptr);
    EXPECT_EQ(structs_free_field(&kRecType, "Nope", rec.get()), -1);
    EXPECT_EQ(errno, EXDEV);

    EXPECT_EQ(structs_init_field(&kRecType, "Words", rec.get()), 0);
    EXPECT_EQ(structs_get_field(&kRecType, "Nope", rec.get(), &items), -1);
    EXPECT_EQ(errno, ENOENT);
}

// A type whose text methods find the whole record from the field's address, as the channel
// record's split texts do: text must be converted in place, never through a copy.
struct Split {
    char head[4];
    char tail[4];
};

char* split_ascify(const StructsType*, const char* mtype, const void* data) {
    const auto* rec = static_cast<const Split*>(data);  // the field lies at offset 0
    std::string joined =
        std::string(rec->head, strnlen(rec->head, 4)) + std::string(rec->tail, strnlen(rec->tail, 4));
    return typed_mem_dup_string(mtype, joined.c_str());
}

int split_binify(const StructsType*, const char* text, void* data, char* ebuf, std::size_t emax) {
    auto* rec = static_cast<Split*>(data);
    const std::size_t len = std::strlen(text);
    if (len > 8) {
        structs_write_error(ebuf, emax, "invalid value \"%s\"", text);
        errno = EINVAL;
        return -1;
    }
    std::memset(rec, 0, sizeof *rec);
    std::memcpy(rec->head, text, std::min<std::size_t>(len, 4));
    if (len > 4) std::memcpy(rec->tail, text + 4, len - 4);
    return 0;
}

constexpr StructsType kSplitText{
    .size = 4,
    .name = "split",
    .tclass = StructsTypeClass::kPrimitive,
    .init = structs_unsupported_init,
    .copy = structs_unsupported_copy,
    .equal = structs_unsupported_equal,
    .ascify = split_ascify,
    .binify = split_binify,
    .encode = structs_unsupported_encode,
    .decode = structs_unsupported_decode,
    .uninit = structs_noop_uninit,
    .args = {0, 0, 0},
};

TEST(StructsInPlaceTest, TextMethodsSeeTheFieldInsideItsRecord) {
    struct Outer {
        std::uint32_t before;
        Split split;
    };
    static constexpr StructsField fields[] = {
        structs_field("Before", structs_type_uint32, offsetof(Outer, before)),
        structs_field("Text", kSplitText, offsetof(Outer, split)),
        structs_field_end(),
    };
    static constexpr StructsType outer_type = structs_struct_type(sizeof(Outer), fields);
    Outer o{};
    EXPECT_EQ(set_text(&outer_type, "Text", "abcdefg", &o), ok());
    EXPECT_EQ(std::string(o.split.tail, 3), "efg") << "bytes beyond the field's own size were written";
    EXPECT_EQ(text_of(&outer_type, "Text", &o), "abcdefg");
    EXPECT_EQ(set_text(&outer_type, "Text", "abcdefghi", &o), failed(EINVAL, "invalid value \"abcdefghi\""));
    EXPECT_EQ(leaf_names(&outer_type, &o), (std::vector<std::string>{"Before", "Text"}));
}

// A pointer class: resolution and traversal follow the stored pointer.
constexpr StructsType kCommPointer{
    .size = sizeof(void*),
    .name = "pointer",
    .tclass = StructsTypeClass::kPointer,
    .init = structs_unsupported_init,
    .copy = structs_unsupported_copy,
    .equal = structs_unsupported_equal,
    .ascify = structs_unsupported_ascify,
    .binify = structs_unsupported_binify,
    .encode = structs_unsupported_encode,
    .decode = structs_unsupported_decode,
    .uninit = structs_noop_uninit,
    .args = {static_cast<const void*>(&kCommType), 0, 0},
};

TEST(StructsPointerTest, PathsAndLeavesFollowThePointer) {
    struct Holder {
        Comm* link;
    };
    static constexpr StructsField fields[] = {
        structs_field("Link", kCommPointer, offsetof(Holder, link)),
        structs_field_end(),
    };
    static constexpr StructsType holder_type = structs_struct_type(sizeof(Holder), fields);
    Comm target{5, 6};
    Holder h{&target};
    EXPECT_EQ(text_of(&holder_type, "Link.Baud", &h), "6");
    EXPECT_EQ(set_text(&holder_type, "Link.Port", "77", &h), ok());
    EXPECT_EQ(target.Port, 77u);
    EXPECT_EQ(leaf_names(&holder_type, &h), (std::vector<std::string>{"Link.Port", "Link.Baud"}));
    h.link = nullptr;
    EXPECT_EQ(text_of(&holder_type, "Link.Baud", &h), err(EINVAL));
}

}  // namespace
