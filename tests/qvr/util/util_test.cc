#include "qvr/util/util.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "support/temp_dir.h"

namespace {

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

std::string le32(uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}
std::string le16(uint16_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8)};
}
std::string be32(uint32_t v) {
    return std::string(le32(__builtin_bswap32(v)));
}
std::string be16(uint16_t v) {
    return le16(__builtin_bswap16(v));
}

}  // namespace

TEST(UtilText, CaseConversionStopsAtTheCountOrTheEndAndLeavesOtherBytes) {
    char text[] = "Ab1-\xe9z";
    EXPECT_EQ(util_ToUpper(text, 3), text);
    EXPECT_STREQ(text, "AB1-\xe9z");
    util_ToUpper(text, 100);  // the terminating zero ends the work
    EXPECT_STREQ(text, "AB1-\xe9Z");
    util_ToLower(text, sizeof text);
    EXPECT_STREQ(text, "ab1-\xe9z");
}

TEST(UtilBits, MostSignificantBitFirst) {
    uint8_t map[3] = {0, 0, 0};
    util_BitSet(map, 0);
    util_BitSet(map, 9);
    util_BitSet(map, 23);
    EXPECT_EQ(map[0], 0x80);
    EXPECT_EQ(map[1], 0x40);
    EXPECT_EQ(map[2], 0x01);
    EXPECT_EQ(util_BitTest(map, 9), 1);
    EXPECT_EQ(util_BitTest(map, 8), 0);
    util_BitClear(map, 9);
    EXPECT_EQ(map[1], 0);
    EXPECT_EQ(util_NoOp(), 0);
}

TEST(UtilChannelAddress, ParsesTheAddressForms) {
    struct Case {
        const char* text;
        int result;
        const char* prefix;
        int number;
    };
    const Case cases[] = {
        {"AI12", 0, "AI", 12},    {"A1K", 0, "A", 1000},     {"a1k", 0, "a", 1000},    {"AI 12", 0, "AI", 12},
        {"DO:00007", 0, "DO", 7}, {"N99999", 0, "N", 99999}, {"AI21K", 0, "AI", 1000}, {"12AI", -1, "", 0},
        {"AIX1", -1, "", 0},      {"AI123456", -1, "", 0},   {"AI", -1, "", 0},        {"", -1, "", 0},
        {"AI12B", -1, "", 0},     {"AI2K", -1, "", 0},       {"AI1 K", -1, "", 0},     {"-7", -1, "", 0},
    };
    for (const Case& c : cases) {
        char prefix[3] = {'x', 'x', 'x'};
        int number = -5;
        EXPECT_EQ(util_ParseChannelAddress(c.text, prefix, &number), c.result) << c.text;
        if (c.result == 0) {
            EXPECT_STREQ(prefix, c.prefix) << c.text;
            EXPECT_EQ(number, c.number) << c.text;
        }
    }
    char prefix[3];
    int number = 0;
    EXPECT_EQ(util_ParseChannelAddress(nullptr, prefix, &number), -1);
}

TEST(UtilChannelAddress, NumbersAreDigitsOrTheThousandForm) {
    struct Case {
        const char* text;
        int result;
        int number;
    };
    const Case cases[] = {{"12", 0, 12},     {"00012", 0, 12}, {"1K", 0, 1000}, {"1k", 0, 1000},
                          {"123456", -1, 0}, {"12 ", -1, 0},   {"", -1, 0},     {"K", -1, 0},
                          {"2K", -1, 0},     {"A1", -1, 0},    {"-1", -1, 0}};
    for (const Case& c : cases) {
        int number = -5;
        EXPECT_EQ(util_ParseChannelNumber(c.text, &number), c.result) << c.text;
        if (c.result == 0) {
            EXPECT_EQ(number, c.number) << c.text;
        }
    }
}

TEST(UtilStamp, FindsSixAndTwelveDigitStampsBeforeTheSuffix) {
    struct Case {
        const char* name;
        const char* suffix;
        const char* stamp;  // null: none
    };
    const Case cases[] = {
        {"LOG_230415_101500.qdl", ".qdl", "230415_101500"},
        {"LOG_230415_101500.QDL", ".qdl", "230415_101500"},
        {"LOG_2304.qdl", ".qdl", nullptr},
        {"LOG230415101500.qdl", ".qdl", "230415101500"},
        {"LOG230415.101500.qdl", ".qdl", "230415.101500"},
        {"RUN_230415.qdl", ".qdl", "230415"},
        {"X230415", "", "230415"},
        {"LOG12345678.qdl", ".qdl", nullptr},
        {"LOG_230415_101500.qdl", ".txt", nullptr},
        {"230415", ".qdl", nullptr},
        {"1.qdl", ".qdl", nullptr},
        {"", "", nullptr},
        {"A_230415_.qdl", ".qdl", nullptr},
    };
    for (const Case& c : cases) {
        const char* found = util_FindTrailingStamp(c.name, c.suffix);
        if (c.stamp == nullptr) {
            EXPECT_EQ(found, nullptr) << c.name;
            EXPECT_EQ(util_HasTrailingStamp(c.name, c.suffix), 0) << c.name;
        } else {
            ASSERT_NE(found, nullptr) << c.name;
            EXPECT_EQ(std::string(found, std::strlen(c.stamp)), c.stamp) << c.name;
            EXPECT_EQ(util_HasTrailingStamp(c.name, c.suffix), 1) << c.name;
        }
    }
}

TEST(UtilStamp, NewestStampedFileWinsWhateverItsSeparator) {
    qvr_test::TempDir dir;
    // A stamp without separator is read as yymmddhhmmss, not with its 7th digit dropped.
    for (const char* name : {"LOG_991231_235959.qdl", "LOG_230415_101400.qdl", "LOG230415101500.qdl",
                             "LOG_230415.qdl", "LOG_230416.txt", "notes.qdl"})
        qvr_test::write_file(dir / name, "x");
    char name[64];
    EXPECT_EQ(util_FindNewestStamped(dir.str().c_str(), name, sizeof name, ".qdl"), 1);
    EXPECT_STREQ(name, "LOG230415101500.qdl");

    char small[8];
    EXPECT_EQ(util_FindNewestStamped(dir.str().c_str(), small, sizeof small, ".qdl"), -1);
    EXPECT_EQ(errno, platform::kErrorInsufficientBuffer);

    qvr_test::TempDir empty;
    qvr_test::write_file(empty / "plain.qdl", "x");
    EXPECT_EQ(util_FindNewestStamped(empty.str().c_str(), name, sizeof name, ".qdl"), 0);
    EXPECT_EQ(util_FindNewestStamped((dir.str() + "/missing").c_str(), name, sizeof name, ".qdl"), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(UtilFiles, FolderSearchDeliversEveryEntryOnce) {
    qvr_test::TempDir dir;
    qvr_test::write_file(dir / "a.txt", "1");
    qvr_test::write_file(dir / "b.txt", "2");
    UtilFindHandle* search = util_FindFirst(dir.str().c_str());
    ASSERT_NE(search, nullptr);
    std::multiset<std::string> names;
    while (const char* name = util_FindNext(search)) names.insert(name);
    EXPECT_EQ(util_FindNext(search), nullptr);
    util_FindClose(search);
    EXPECT_EQ(names, (std::multiset<std::string>{".", "..", "a.txt", "b.txt"}));
    EXPECT_EQ(util_FindFirst((dir.str() + "/none").c_str()), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST(UtilFiles, DeclaredLengthIsTrustedOnlyWhenTheFileHoldsIt) {
    qvr_test::TempDir dir;
    struct Case {
        const char* what;
        std::string bytes;
        int64_t result;
        int error;  // checked when not -2
    };
    const std::string body(100, 'x');
    const Case cases[] = {
        {"exact", le32(106) + le16(0x8001) + body, 106, -2},
        {"longer than declared", le32(50) + le16(0xE001) + body, 50, -2},
        // A file cut short gives its real size, flagged, so nobody reads past its end.
        {"shorter than declared", le32(5000) + le16(0x9000) + body, 106, platform::kErrorAccessDenied},
        {"other byte order", be32(106) + be16(0x8001) + body, 106, -2},
        {"tag too low", le32(10) + le16(0x8000) + body, -1, -2},
        {"tag too high", le32(10) + le16(0xE002) + body, -1, -2},
        {"header cut", le32(10) + "\x01", -1, -2},
    };
    for (const Case& c : cases) {
        const auto path = dir / "data.bin";
        qvr_test::write_file(path, c.bytes);
        FdCloser file{::open(path.c_str(), O_RDONLY)};
        ASSERT_GE(file.fd, 0);
        ::lseek(file.fd, 3, SEEK_SET);
        errno = 0;
        platform::set_last_error(0);
        EXPECT_EQ(util_GetDeclaredLength(file.fd), c.result) << c.what;
        if (c.error != -2) {
            EXPECT_EQ(platform::last_error(), c.error) << c.what;
        }
        if (c.result >= 0) {
            EXPECT_EQ(::lseek(file.fd, 0, SEEK_CUR), 0) << c.what << ": rewound";
        }
    }
    EXPECT_EQ(util_GetFileSize(-1), -1);
}

TEST(UtilFiles, MakeDirectoryAndDeleteQuoted) {
    qvr_test::TempDir dir;
    const std::string folder = dir.str() + "/new";
    EXPECT_EQ(util_MakeDirectory(folder.c_str()), 0);
    EXPECT_EQ(util_MakeDirectory(folder.c_str()), -1);
    EXPECT_EQ(errno, EEXIST);

    const auto file = dir / "with space.txt";
    qvr_test::write_file(file, "x");
    EXPECT_EQ(util_DeleteQuoted(("\"" + file.string() + "\"").c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(util_DeleteQuoted(file.c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
}
