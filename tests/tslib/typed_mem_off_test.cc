// Typed memory in its normal mode: accounting off, every call passes to the heap.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tslib/testing/typed_mem_testing.h"
#include "tslib/typed_mem.h"
#include "tslib_test_util.h"

namespace {

TEST(TypedMemOff, TurningOnAfterAnyUseFailsWithEbusy) {
    typed_mem_release("anything", nullptr);
    errno = 0;
    EXPECT_EQ(typed_mem_turn_on(), -1);
    EXPECT_EQ(errno, EBUSY);
    void* p = typed_mem_alloc("anything", 4);
    errno = 0;
    EXPECT_EQ(typed_mem_turn_on(), -1);
    EXPECT_EQ(errno, EBUSY);
    typed_mem_release("anything", p);
}

TEST(TypedMemOff, NamesAreNotCheckedAndQueriesReportEnxio) {
    void* p = typed_mem_alloc("one", 16);
    char name[kTypedMemNameMax + 1];
    errno = 0;
    EXPECT_EQ(typed_mem_type_of(p, name), nullptr);
    EXPECT_EQ(errno, ENXIO);
    StructsArray stats{};
    errno = 0;
    EXPECT_EQ(typed_mem_collect_stats(&stats), -1);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(tslib_test::printed(typed_mem_print_stats), "Typed memory is not enabled.\n");
    typed_mem_release("another", p);
}

// The heap's realloc(p, 0) releases p and returns null; resize_or_release would then release
// it a second time.
TEST(TypedMemOff, ResizeToZeroStillReturnsABlock) {
    void* p = typed_mem_alloc("zero", 8);
    p = typed_mem_resize("zero", p, 0);
    ASSERT_NE(p, nullptr);
    p = typed_mem_resize_or_release("zero", p, 0);
    ASSERT_NE(p, nullptr);
    typed_mem_release("zero", p);
}

TEST(TypedMemOff, PrintToReturnsAHeapText) {
    char* text = nullptr;
    EXPECT_EQ(typed_mem_print_to("text", &text, "%s-%03d", "id", 7), 6);
    EXPECT_STREQ(text, "id-007");
    std::free(text);
}

TEST(TypedMemOff, InjectedFailureWorksWithoutAccounting) {
    typed_mem_fail_nth(1);
    errno = 0;
    EXPECT_EQ(typed_mem_alloc("any", 8), nullptr);
    EXPECT_EQ(errno, ENOMEM);
    void* p = typed_mem_alloc("any", 8);
    EXPECT_NE(p, nullptr);
    typed_mem_release("any", p);
}

TEST(TypedMemOff, ReleaseLeavesErrno) {
    void* p = typed_mem_alloc("errno", 8);
    errno = EDOM;
    typed_mem_release("errno", p);
    EXPECT_EQ(errno, EDOM);
}

TEST(TypedMemOff, DupOfNullFailsWithEinval) {
    errno = 0;
    EXPECT_EQ(typed_mem_dup_string("dup", nullptr), nullptr);
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace
