// Typed memory with accounting on (switched on before anything is allocated).
#include "tslib/typed_mem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tslib/testing/typed_mem_testing.h"
#include "tslib_test_util.h"

namespace {

const int kAccounting = typed_mem_turn_on();

using tslib_test::live_blocks;
using tslib_test::LiveBlocks;

class TypedMemTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(kAccounting, 0); }
    void TearDown() override { EXPECT_TRUE(live_blocks().empty()) << "blocks leaked"; }
};

TEST_F(TypedMemTest, TurningOnAgainSucceeds) {
    EXPECT_EQ(typed_mem_turn_on(), 0);
}

TEST_F(TypedMemTest, StatisticsTableListsEachNameInOrder) {
    void* b = typed_mem_alloc("beta", 5);
    void* a1 = typed_mem_alloc("alpha", 10);
    void* a2 = typed_mem_alloc("alpha", 20);
    EXPECT_EQ(tslib_test::printed(typed_mem_print_stats),
              "   Type                              Count      Total\n"
              "   ----                              -----      -----\n"
              "   alpha                                 2         30\n"
              "   beta                                  1          5\n"
              "                                     -----      -----\n"
              "   Totals                                3         35\n");

    StructsArray stats{};
    ASSERT_EQ(typed_mem_collect_stats(&stats), 0);
    ASSERT_EQ(stats.length, 3u);
    const auto* rows = static_cast<const TypedMemStatsRow*>(stats.elems);
    EXPECT_STREQ(rows[0].type, "alpha");
    EXPECT_EQ(rows[0].allocs, 2u);
    EXPECT_EQ(rows[0].bytes, 30u);
    EXPECT_STREQ(rows[1].type, "beta");
    EXPECT_STREQ(rows[2].type, "typed_mem_stats") << "the row block counts itself";
    EXPECT_EQ(rows[2].allocs, 1u);
    EXPECT_EQ(rows[2].bytes, 3 * sizeof(TypedMemStatsRow));
    typed_mem_release("typed_mem_stats", stats.elems);

    typed_mem_release("alpha", a1);
    typed_mem_release("alpha", a2);
    typed_mem_release("beta", b);
    EXPECT_EQ(tslib_test::printed(typed_mem_print_stats),
              "   Type                              Count      Total\n"
              "   ----                              -----      -----\n"
              "                                     -----      -----\n"
              "   Totals                                0          0\n");
}

TEST_F(TypedMemTest, NamesSharingTheirFirst23CharactersAreOneType) {
    void* a = typed_mem_alloc("abcdefghijklmnopqrstuvw_first", 4);
    void* b = typed_mem_alloc("abcdefghijklmnopqrstuvw_second", 6);
    EXPECT_EQ(live_blocks()["abcdefghijklmnopqrstuvw"], (LiveBlocks{2, 10}));
    char name[kTypedMemNameMax + 1];
    EXPECT_STREQ(typed_mem_type_of(b, name), "abcdefghijklmnopqrstuvw");
    typed_mem_release("abcdefghijklmnopqrstuvw_other", a);
    typed_mem_release("abcdefghijklmnopqrstuvw", b);
}

TEST_F(TypedMemTest, ReallocKeepsContentsCountAndAddsTheDifference) {
    auto* p = static_cast<char*>(typed_mem_alloc("grow", 16));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "0123456789abcdef", 16);
    // Far larger, so the block most likely moves and its record is re-keyed.
    p = static_cast<char*>(typed_mem_resize("grow", p, 1 << 20));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, "0123456789abcdef", 16), 0);
    EXPECT_EQ(live_blocks()["grow"], (LiveBlocks{1, 1 << 20}));
    char name[kTypedMemNameMax + 1];
    EXPECT_STREQ(typed_mem_type_of(p, name), "grow");
    p = static_cast<char*>(typed_mem_resize("grow", p, 8));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, "01234567", 8), 0);
    EXPECT_EQ(live_blocks()["grow"], (LiveBlocks{1, 8}));
    typed_mem_release("grow", p);
}

TEST_F(TypedMemTest, FailedResizeLeavesTheBlockAndResizeOrReleaseFreesIt) {
    auto* p = static_cast<char*>(typed_mem_alloc("keep", 4));
    std::memcpy(p, "abc", 4);
    errno = 0;
    EXPECT_EQ(typed_mem_resize("keep", p, SIZE_MAX - 4), nullptr);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_STREQ(p, "abc");
    EXPECT_EQ(live_blocks()["keep"], (LiveBlocks{1, 4}));

    errno = 0;
    EXPECT_EQ(typed_mem_resize_or_release("keep", p, SIZE_MAX), nullptr);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(live_blocks().count("keep"), 0u);
}

TEST_F(TypedMemTest, InjectedFailureHitsTheNthAllocationOnly) {
    typed_mem_fail_nth(3);
    void* a = typed_mem_alloc("inject", 1);
    void* b = typed_mem_zeroed("inject", 2, 2);
    errno = 0;
    EXPECT_EQ(typed_mem_resize("inject", a, 64), nullptr) << "a resize counts as well";
    EXPECT_EQ(errno, ENOMEM);
    void* c = typed_mem_dup_string("inject", "later");
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_NE(c, nullptr) << "only the third call fails";
    EXPECT_EQ(live_blocks()["inject"], (LiveBlocks{3, 1 + 4 + 6}));
    typed_mem_fail_nth(1);
    typed_mem_fail_nth(0);
    void* d = typed_mem_alloc("inject", 1);
    EXPECT_NE(d, nullptr) << "0 switches it off";
    for (void* p : {a, b, c, d}) typed_mem_release("inject", p);
}

TEST_F(TypedMemTest, ReleaseLeavesErrnoAndIgnoresNull) {
    void* p = typed_mem_alloc("errno", 1);
    errno = EDOM;
    typed_mem_release("errno", p);
    EXPECT_EQ(errno, EDOM);
    typed_mem_release("errno", nullptr);
    EXPECT_EQ(errno, EDOM);
}

TEST_F(TypedMemTest, ZeroedDupAndPrint) {
    auto* z = static_cast<unsigned char*>(typed_mem_zeroed("zero", 100, 3));
    ASSERT_NE(z, nullptr);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(z[i], 0) << i;
    EXPECT_EQ(live_blocks()["zero"], (LiveBlocks{1, 300}));
    typed_mem_release("zero", z);
    errno = 0;
    EXPECT_EQ(typed_mem_zeroed("zero", SIZE_MAX / 2, 3), nullptr);
    EXPECT_EQ(errno, ENOMEM);

    char* dup = typed_mem_dup_string("dup", "text");
    EXPECT_STREQ(dup, "text");
    EXPECT_EQ(live_blocks()["dup"], (LiveBlocks{1, 5}));
    typed_mem_release("dup", dup);

    char* text = nullptr;
    // Far beyond the formatter's first buffer: the whole text comes back.
    const std::string big(20000, 'x');
    EXPECT_EQ(typed_mem_print_to("printed", &text, "<%s>%d", big.c_str(), 7), 20003);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), "<" + big + ">7");
    EXPECT_EQ(live_blocks()["printed"], (LiveBlocks{1, 20004}));
    typed_mem_release("printed", text);
}

TEST_F(TypedMemTest, NullNameBypassesAccounting) {
    void* p = typed_mem_alloc(nullptr, 32);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(live_blocks().empty());
    char name[kTypedMemNameMax + 1];
    errno = 0;
    EXPECT_EQ(typed_mem_type_of(p, name), nullptr);
    EXPECT_EQ(errno, ENOENT);
    char* text = nullptr;
    EXPECT_EQ(typed_mem_print_to(nullptr, &text, "%d", 42), 2);
    EXPECT_STREQ(text, "42");
    std::free(text);
    typed_mem_release(nullptr, p);
}

TEST_F(TypedMemTest, ConcurrentUseKeepsTheTablesConsistent) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            const std::string name = "thread" + std::to_string(t);
            std::vector<void*> blocks;
            for (int i = 0; i < 2000; ++i) {
                blocks.push_back(typed_mem_alloc(name.c_str(), 1 + i % 50));
                if (i % 3 == 0) {
                    blocks.back() = typed_mem_resize(name.c_str(), blocks.back(), 100);
                }
                if (i % 2 == 0) {
                    typed_mem_release(name.c_str(), blocks.front());
                    blocks.erase(blocks.begin());
                }
            }
            for (void* b : blocks) typed_mem_release(name.c_str(), b);
        });
    }
    for (auto& t : threads) t.join();
}

// Misuse with accounting on is reported on stderr and ends the process.
using TypedMemDeathTest = TypedMemTest;

TEST_F(TypedMemDeathTest, ReleaseUnderAnotherName) {
    void* p = typed_mem_alloc("right", 8);
    EXPECT_DEATH(typed_mem_release("wrong", p),
                 "FREE\\(\\) with wrong type: ptr=0x[0-9a-f]+ \"wrong\" != \"right\"");
    typed_mem_release("right", p);
}

TEST_F(TypedMemDeathTest, ReallocUnderAnotherName) {
    void* p = typed_mem_alloc("right", 8);
    EXPECT_DEATH(typed_mem_resize("wrong", p, 16),
                 "REALLOC\\(\\) with wrong type: ptr=0x[0-9a-f]+ \"wrong\" != \"right\"");
    typed_mem_release("right", p);
}

TEST_F(TypedMemDeathTest, DoubleRelease) {
    void* p = typed_mem_alloc("twice", 8);
    typed_mem_release("twice", p);
    EXPECT_DEATH(typed_mem_release("twice", p),
                 "FREE\\(\\) of unallocated block: ptr=0x[0-9a-f]+ type=\"twice\"");
}

TEST_F(TypedMemDeathTest, ReleaseOfABlockNeverAllocated) {
    static char not_ours[64];
    EXPECT_DEATH(typed_mem_release("stray", not_ours + 16), "FREE\\(\\) of unallocated block");
}

TEST_F(TypedMemDeathTest, DamagedGuards) {
    auto* p = static_cast<unsigned char*>(typed_mem_alloc("guarded", 8));
    EXPECT_DEATH(
        {
            p[-1] ^= 0xff;
            typed_mem_release("guarded", p);
        },
        "FREE\\(\\): head guard violated ptr=0x[0-9a-f]+ type=\"guarded\"");
    EXPECT_DEATH(
        {
            p[8] ^= 0xff;
            typed_mem_resize("guarded", p, 32);
        },
        "REALLOC\\(\\): tail guard violated ptr=0x[0-9a-f]+ type=\"guarded\"");
    typed_mem_release("guarded", p);
}

}  // namespace
