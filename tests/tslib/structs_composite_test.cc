// Structures, arrays and unions as wholes: init, copy, equality, release, the array path
// operations, and undoing partial work when an allocation fails.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "structs_test_types.h"
#include "tslib/structs.h"
#include "tslib/testing/typed_mem_testing.h"
#include "tslib/typed_mem_stats_type.h"
#include "tslib_test_util.h"

namespace {

using namespace structs_test;
using tslib_test::live_blocks;

const int kAccounting = typed_mem_turn_on();

class StructsCompositeTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(kAccounting, 0); }
    void TearDown() override {
        typed_mem_fail_nth(0);
        EXPECT_TRUE(live_blocks().empty()) << "blocks leaked";
    }
};

bool all_zero(const void* p, std::size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) {
        if (b[i] != 0) return false;
    }
    return true;
}

void fill(Rec* r) {
    ASSERT_EQ(structs_array_set_length(&kRecType, "Items", 2, r, 1), 0);
    ASSERT_EQ(structs_array_set_length(&kRecType, "Words", 2, r, 1), 0);
    for (const auto& [path, text] : std::map<std::string, std::string>{{"Items.0.Name", "alpha"},
                                                                       {"Items.1.Name", "beta"},
                                                                       {"Items.1.Blob", "0102"},
                                                                       {"Words.1", "w"},
                                                                       {"Tag", "tag"},
                                                                       {"Choice.Text", "t"}}) {
        ASSERT_EQ(set_text(&kRecType, path.c_str(), text.c_str(), r), ok()) << path;
    }
}

TEST_F(StructsCompositeTest, CopyIsDeepAndEqualComparesEveryField) {
    Owned<Rec> a(&kRecType);
    fill(a.get());
    Rec b{};
    ASSERT_EQ(kRecType.copy(&kRecType, a.get(), &b), 0);
    EXPECT_EQ(kRecType.equal(&kRecType, a.get(), &b), 1);
    EXPECT_NE(static_cast<Item*>(b.Items.elems)[0].Name, static_cast<Item*>(a->Items.elems)[0].Name);
    ASSERT_EQ(set_text(&kRecType, "Items.1.Blob", "0103", &b), ok());
    EXPECT_EQ(kRecType.equal(&kRecType, a.get(), &b), 0);
    kRecType.uninit(&kRecType, &b);
    EXPECT_TRUE(all_zero(&b, sizeof b)) << "a released structure is zeroed";
}

TEST_F(StructsCompositeTest, ArrayInsertDeleteAndLength) {
    Owned<Rec> r(&kRecType);
    EXPECT_EQ(structs_array_length_of(&kRecType, "Words", r.get()), 0);
    errno = 0;
    EXPECT_EQ(structs_array_length_of(&kRecType, "Comm", r.get()), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(structs_array_insert_at(&kRecType, "Words", 1, r.get()), -1);
    EXPECT_EQ(errno, EDOM);

    ASSERT_EQ(structs_array_insert_at(&kRecType, "Words", 0, r.get()), 0);  // index = length appends
    ASSERT_EQ(set_text(&kRecType, "Words.0", "b", r.get()), ok());
    ASSERT_EQ(structs_array_insert_at(&kRecType, "Words", 0, r.get()), 0);
    ASSERT_EQ(set_text(&kRecType, "Words.0", "a", r.get()), ok());
    ASSERT_EQ(structs_array_insert_at(&kRecType, "Words", 2, r.get()), 0);
    ASSERT_EQ(set_text(&kRecType, "Words.2", "c", r.get()), ok());
    EXPECT_EQ(text_of(&kRecType, "Words.0", r.get()) + text_of(&kRecType, "Words.1", r.get()) +
                  text_of(&kRecType, "Words.2", r.get()),
              "abc");

    EXPECT_EQ(structs_array_delete_at(&kRecType, "Words", 3, r.get()), -1);
    EXPECT_EQ(errno, EDOM);
    ASSERT_EQ(structs_array_delete_at(&kRecType, "Words", 1, r.get()), 0);
    EXPECT_EQ(text_of(&kRecType, "Words.1", r.get()), "c");
    ASSERT_EQ(structs_array_delete_at(&kRecType, "Words", 1, r.get()), 0);
    ASSERT_EQ(structs_array_delete_at(&kRecType, "Words", 0, r.get()), 0);
    EXPECT_EQ(r->Words.length, 0u);
    EXPECT_NE(r->Words.elems, nullptr) << "deleting keeps the block";
    EXPECT_EQ(live_blocks()[kStructsStringMtype].count, 0u) << "deleted elements are released";
}

TEST_F(StructsCompositeTest, SetLengthReleasesWhatShrinkingDrops) {
    Owned<Rec> r(&kRecType);
    ASSERT_EQ(structs_array_set_length(&kRecType, "Words", 4, r.get(), 1), 0);
    EXPECT_EQ(live_blocks()[kStructsStringMtype].count, 4u);
    ASSERT_EQ(set_text(&kRecType, "Words.3", "last", r.get()), ok());
    ASSERT_EQ(structs_array_set_length(&kRecType, "Words", 1, r.get(), 1), 0);
    EXPECT_EQ(live_blocks()[kStructsStringMtype].count, 1u);
    ASSERT_EQ(structs_array_set_length(&kRecType, "Words", 1, r.get(), 1), 0);
    ASSERT_EQ(structs_array_set_length(&kRecType, "Words", 0, r.get(), 1), 0);
    EXPECT_EQ(r->Words.elems, nullptr) << "length 0 releases the block";
    EXPECT_EQ(live_blocks().count("test_words"), 0u);

    // Without the initialise flag the new elements are zero (an absent text reads as empty).
    ASSERT_EQ(structs_array_set_length(&kRecType, "Words", 2, r.get(), 0), 0);
    EXPECT_TRUE(all_zero(r->Words.elems, 2 * sizeof(char*)));
    EXPECT_EQ(text_of(&kRecType, "Words.1", r.get()), "");
    ASSERT_EQ(structs_array_clear(&kRecType, "Words", r.get()), 0);
    EXPECT_EQ(r->Words.length, 0u);
    EXPECT_EQ(r->Words.elems, nullptr);
}

TEST_F(StructsCompositeTest, PreparePathAppendsOneElementPerArray) {
    Owned<Rec> r(&kRecType);
    ASSERT_EQ(structs_array_set_length(&kRecType, "Items", 2, r.get(), 1), 0);
    EXPECT_EQ(structs_array_prepare_path(&kRecType, "Items.2.Name", r.get()), 0);
    EXPECT_EQ(r->Items.length, 3u);
    EXPECT_EQ(structs_array_prepare_path(&kRecType, "Items.1.Name", r.get()), 0);
    EXPECT_EQ(r->Items.length, 3u) << "an existing element needs nothing";
    errno = 0;
    EXPECT_EQ(structs_array_prepare_path(&kRecType, "Items.4.Name", r.get()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(structs_array_prepare_path(&kRecType, "Items.x", r.get()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(structs_array_prepare_path(&kRecType, "Items.99999999999999999999", r.get()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(structs_array_prepare_path(&kRecType, "", r.get()), 0);
    EXPECT_EQ(structs_array_prepare_path(&kRecType, "Words.0", r.get()), 0);
    EXPECT_EQ(r->Words.length, 1u);
    EXPECT_EQ(structs_array_prepare_path(&kRecType, "Nope.0", r.get()), -1) << "every prefix must resolve";
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(r->Items.length, 3u);
    EXPECT_EQ(text_of(&kRecType, "Items.2.Name", r.get()), "");
}

TEST_F(StructsCompositeTest, StatisticsOfTypedMemoryAreDescribed) {
    void* held = typed_mem_alloc("held_block", 10);
    StructsArray stats{};
    ASSERT_EQ(typed_mem_collect_stats(&stats), 0);
    const std::vector<std::string> names = leaf_names(&typed_mem_stats_type, &stats);
    ASSERT_GE(names.size(), 6u);
    EXPECT_EQ(names[0], "0.type");
    EXPECT_EQ(names[1], "0.allocs");
    EXPECT_EQ(names[2], "0.bytes");
    EXPECT_EQ(typed_mem_stats_type.args[2].s, std::string("type"));
    bool found = false;
    for (std::uint32_t i = 0; i < stats.length; ++i) {
        const std::string at = std::to_string(i);
        if (text_of(&typed_mem_stats_type, (at + ".type").c_str(), &stats) != "held_block") continue;
        found = true;
        EXPECT_EQ(text_of(&typed_mem_stats_type, (at + ".allocs").c_str(), &stats), "1");
        EXPECT_EQ(text_of(&typed_mem_stats_type, (at + ".bytes").c_str(), &stats), "10");
    }
    EXPECT_TRUE(found);
    structs_free_field(&typed_mem_stats_type, nullptr, &stats);
    typed_mem_release("held_block", held);
}

// A string type whose copy fails: the third of three fields.
constexpr StructsType kNoCopyString{
    .size = sizeof(char*),
    .name = "string",
    .tclass = StructsTypeClass::kPrimitive,
    .init = structs_string_init,
    .copy = structs_unsupported_copy,
    .equal = structs_string_equal,
    .ascify = structs_string_ascify,
    .binify = structs_string_binify,
    .encode = structs_string_encode,
    .decode = structs_string_decode,
    .uninit = structs_string_uninit,
    .args = {kStructsStringMtype, 0, 0},
};

struct Three {
    char* a;
    char* b;
    char* c;
};

constexpr StructsField kThreeFields[] = {
    structs_field("A", structs_type_string, offsetof(Three, a)),
    structs_field("B", structs_type_string, offsetof(Three, b)),
    structs_field("C", kNoCopyString, offsetof(Three, c)),
    structs_field_end(),
};
constexpr StructsType kThreeType = structs_struct_type(sizeof(Three), kThreeFields);

TEST_F(StructsCompositeTest, CopyFailingOnTheThirdFieldLeavesTheTargetZeroed) {
    Owned<Three> src(&kThreeType);
    ASSERT_EQ(set_text(&kThreeType, "A", "one", src.get()), ok());
    ASSERT_EQ(set_text(&kThreeType, "B", "two", src.get()), ok());
    const auto before = live_blocks();
    Three dst;
    std::memset(&dst, 0xA5, sizeof dst);
    errno = 0;
    EXPECT_EQ(kThreeType.copy(&kThreeType, src.get(), &dst), -1);
    EXPECT_EQ(errno, ENOSYS);
    EXPECT_TRUE(all_zero(&dst, sizeof dst));
    EXPECT_EQ(live_blocks(), before) << "the two fields copied were released";
}

// Runs op with the n-th allocation failing, for n = 1, 2, ... until op succeeds. After each
// failure, check() must hold and every block made meanwhile must be gone.
void for_each_allocation_failure(const std::function<int()>& op, const std::function<void()>& check,
                                 const std::function<void()>& undo_success) {
    for (std::uint32_t n = 1; n < 1000; ++n) {
        const auto before = live_blocks();
        typed_mem_fail_nth(n);
        const int rc = op();
        typed_mem_fail_nth(0);
        if (rc != -1) {
            undo_success();
            SUCCEED() << "succeeded once " << n - 1 << " allocations were allowed";
            return;
        }
        EXPECT_EQ(errno, ENOMEM) << "allocation " << n;
        check();
        EXPECT_EQ(live_blocks(), before) << "allocation " << n;
        if (testing::Test::HasFailure()) return;
    }
    ADD_FAILURE() << "never succeeded";
}

TEST_F(StructsCompositeTest, UndoWhenAnAllocationFails) {
    Owned<Rec> src(&kRecType);
    fill(src.get());

    // Structure copy (and with it the array, data and union copies).
    Rec dst{};
    for_each_allocation_failure([&] { return kRecType.copy(&kRecType, src.get(), &dst); },
                                [&] { EXPECT_TRUE(all_zero(&dst, sizeof dst)); },
                                [&] { kRecType.uninit(&kRecType, &dst); });

    // Variable array copy on its own.
    StructsArray items{};
    for_each_allocation_failure([&] { return kItemsType.copy(&kItemsType, &src->Items, &items); },
                                [&] {
                                    EXPECT_EQ(items.length, 0u);
                                    EXPECT_EQ(items.elems, nullptr);
                                },
                                [&] { kItemsType.uninit(&kItemsType, &items); });

    // Structure init.
    for_each_allocation_failure([&] { return kRecType.init(&kRecType, &dst); },
                                [&] { EXPECT_TRUE(all_zero(&dst, sizeof dst)); },
                                [&] { kRecType.uninit(&kRecType, &dst); });

    // Decoding: the old value stays.
    StructsBuffer code{};
    ASSERT_EQ(structs_get_field_binary(&kRecType, "Items", src.get(), kMtype, &code), 0);
    Owned<Rec> target(&kRecType);
    ASSERT_EQ(set_text(&kRecType, "Tag", "old", target.get()), ok());
    for_each_allocation_failure(
        [&] {
            return structs_set_field_binary(&kRecType, "Items", &code, target.get(), nullptr, 0) < 0 ? -1 : 0;
        },
        [&] { EXPECT_EQ(target->Items.length, 0u); }, [] {});
    EXPECT_EQ(kItemsType.equal(&kItemsType, &src->Items, &target->Items), 1);
    typed_mem_release(kMtype, code.data);

    // Encoding releases its scratch blocks.
    for_each_allocation_failure(
        [&] { return structs_get_field_binary(&kRecType, "Items", src.get(), kMtype, &code); },
        [&] { EXPECT_EQ(code.data, nullptr); }, [&] { typed_mem_release(kMtype, code.data); });

    // Insertion keeps the length when the new element cannot be made.
    for_each_allocation_failure([&] { return structs_array_insert_at(&kRecType, "Items", 1, target.get()); },
                                [&] { EXPECT_EQ(target->Items.length, 2u); }, [] {});
    EXPECT_EQ(target->Items.length, 3u);
    EXPECT_EQ(text_of(&kRecType, "Items.2.Name", target.get()), "beta");

    // Growing with initialisation keeps the length.
    for_each_allocation_failure(
        [&] { return structs_array_set_length(&kRecType, "Words", 5, target.get(), 1); },
        [&] { EXPECT_EQ(target->Words.length, 0u); }, [] {});
    EXPECT_EQ(target->Words.length, 5u);

    // A union change keeps the current member.
    ASSERT_EQ(set_text(&kRecType, "Choice.Text", "keep", target.get()), ok());
    for_each_allocation_failure([&] { return set_text(&kRecType, "Choice.Pair.Port", "8", target.get()).rc; },
                                [&] { EXPECT_EQ(text_of(&kRecType, "Choice.Text", target.get()), "keep"); },
                                [] {});
    EXPECT_EQ(text_of(&kRecType, "Choice.Pair.Port", target.get()), "8");

    // Leaf names leave nothing behind.
    char** names = nullptr;
    int count = 0;
    for_each_allocation_failure(
        [&] { return count = structs_list_leaf_names(&kRecType, src.get(), &names, kMtype); },
        [&] { EXPECT_EQ(names, nullptr); },
        [&] {
            for (int i = 0; i < count; ++i) typed_mem_release(kMtype, names[i]);
            typed_mem_release(kMtype, names);
        });
}

}  // namespace
