#include "qvr/util/rt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "platform/testing/debug_output_testing.h"

TEST(RunTime, KindDisplayNamesFitTheirSixteenCharacterFields) {
    const char* expected[] = {"ANALOG INPUTS",  "DIGITAL INPUTS", "ANALOG OUTPUTS", "DIGITAL OUTPUTS",
                              "COUNTER INPUTS", "DIAGNOSTICS",    "DIAGNOSTICS"};
    for (int kind = 0; kind < 7; ++kind) {
        EXPECT_STREQ(rt_KindDisplayName(kind), expected[kind]);
        EXPECT_LT(std::strlen(rt_KindDisplayName(kind)), 16u);
    }
    EXPECT_STREQ(rt_KindDisplayName(7), "");
    EXPECT_STREQ(rt_KindDisplayName(-1), "");
}

TEST(RunTime, OpenSecurityAttributesGiveOwnerAndGroupAccess) {
    const SecurityAttributes* a = rt_GetOpenSecurityAttributes();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, rt_GetOpenSecurityAttributes());
    EXPECT_EQ(a->length, sizeof(SecurityAttributes));
    EXPECT_EQ(a->object_mode, 0660u);
    EXPECT_EQ(a->folder_mode, 0770u);
    EXPECT_EQ(a->inherit_handle, 0);
}

TEST(RunTime, AllocCopyAndFree) {
    char* p = static_cast<char*>(rt_Alloc(16));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abcdefgh", 8);
    EXPECT_EQ(rt_CopyBytes(p, p + 2, 6), 0);  // overlapping
    EXPECT_EQ(std::string(p, 8), "ababcdef");
    EXPECT_EQ(rt_CopyBytes(nullptr, nullptr, 0), 0);
    rt_Free(p);
    rt_Free(nullptr);
}

TEST(RunTime, HeapDumpWritesOneReportToTheDebuggerOutput) {
    std::vector<std::string> lines;
    platform::set_debug_output_capture([&](std::string_view t) { lines.emplace_back(t); });
    std::vector<char> keep_something_in_use(100000);
    rt_DumpHeap();
    platform::set_debug_output_capture({});
    ASSERT_EQ(lines.size(), 1u);
    const bool empty = lines[0] == "OK - empty heap\n";
    const bool stats = lines[0].starts_with("heap arena ");
    EXPECT_TRUE(empty || stats) << lines[0];
    EXPECT_EQ(lines[0].back(), '\n');
}
