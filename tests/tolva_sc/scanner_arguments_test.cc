// What the program takes from its own name and its argument.
#include <gtest/gtest.h>

#include "tolva_sc/scanner_main.h"

namespace {

TEST(ScannerArguments, TypePrefixIsTheFileNameCutAtItsLastUnderscore) {
    EXPECT_EQ(tolva::device_type_prefix("/opt/quorvane/bin/tolva_sc"), "tolva");
    EXPECT_EQ(tolva::device_type_prefix("tolva_sc"), "tolva");
    EXPECT_EQ(tolva::device_type_prefix("C:\\QV\\BIN\\TOLVA_SC.EXE"), "TOLVA");
    EXPECT_EQ(tolva::device_type_prefix("/x/my_tolva_sc"), "my_tolva");
    EXPECT_EQ(tolva::device_type_prefix("/x_y/tolvasc"), std::nullopt);  // only the folder has one
    EXPECT_EQ(tolva::device_type_prefix(""), std::nullopt);
}

TEST(ScannerArguments, ExactlyOneNumberWhoseLow16BitsAreNotZero) {
    struct Case {
        std::vector<const char*> argv;
        std::optional<uint16_t> expected;
    };
    const Case cases[] = {
        {{"tolva_sc", "1"}, 1},      {{"tolva_sc", "65535"}, 65535}, {{"tolva_sc", "65537"}, 1},
        {{"tolva_sc", " 12x"}, 12},  {{"tolva_sc", "0"}, std::nullopt}, {{"tolva_sc", "65536"}, std::nullopt},
        {{"tolva_sc", "abc"}, std::nullopt}, {{"tolva_sc"}, std::nullopt}, {{"tolva_sc", "1", "2"}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tolva::device_number_argument(static_cast<int>(c.argv.size()), c.argv.data()), c.expected)
            << (c.argv.size() > 1 ? c.argv[1] : "(none)");
    }
}

TEST(ScannerArguments, AFailureNeverExitsWithACodeThatReadsAsSuccess) {
    EXPECT_EQ(tolva::failure_exit_code(2), 2);
    EXPECT_EQ(tolva::failure_exit_code(1465), 1465) << "Linux shows 185";
    EXPECT_EQ(tolva::failure_exit_code(0), 255) << "the runtime library's invalid argument";
    EXPECT_EQ(tolva::failure_exit_code(512), 255);
}

}  // namespace
