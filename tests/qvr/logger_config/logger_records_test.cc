// The logger records' fixed layout, the codes older readers take from it, and the binary
// file of a record, against real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/logger_config/logger_binary.h"
#include "qvr/logger_config/logger_codes.h"
#include "qvr/logger_config/logger_layout.h"
#include "support/temp_dir.h"

namespace {

using namespace qvr::logger;
using qvr_test::TempDir;

std::vector<std::uint8_t> file_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

int write_locked(const std::string& dir, const char* kind, int number, const std::vector<std::uint8_t>& record) {
    auto lock = qvr::cfg::FolderLock::acquire(dir);
    if (!lock) return -1;
    return write_binary(dir, kind, number, record);
}

TEST(LoggerLayout, TablesHoldEveryFieldOfEachKind) {
    EXPECT_EQ(kStandFields.size(), 110u);
    EXPECT_EQ(kRepubFields.size(), 40u);
    EXPECT_EQ(kResubFields.size(), 26u);
    // Leaves past the description's own size are still fields of the standard record.
    const LoggerField* smtp = find_field(kStandFields, "EmailSMTPPassword");
    ASSERT_NE(smtp, nullptr);
    EXPECT_GT(smtp->offset, kStandDescriptionSize);
    // The element name keeps its historic spelling.
    EXPECT_NE(find_field(kStandFields, "DropMergeCylce"), nullptr);
    EXPECT_EQ(find_field(kStandFields, "DropMergeCycle"), nullptr);
}

TEST(LoggerCodes, CycleCodeOfEachKnownDuration) {
    struct Case {
        std::uint32_t months, days, hours, minutes;
        std::uint8_t code;
    };
    const Case cases[] = {
        {0, 0, 0, 30, 1},  {0, 0, 1, 0, 2},   {0, 0, 2, 0, 3},   {0, 0, 4, 0, 4},  {0, 0, 8, 0, 5},
        {0, 0, 12, 0, 6},  {0, 1, 0, 0, 7},   {0, 7, 0, 0, 8},   {0, 14, 0, 0, 9}, {1, 0, 0, 0, 10},
        {2, 0, 0, 0, 11},  {3, 0, 0, 0, 12},  {0, 0, 0, 45, 0},  {0, 0, 0, 0, 0},  {0, 0, 0, 1440, 7},
        {0, 31, 0, 0, 10}, {0, 0, 24, 0, 7},  {4, 0, 0, 0, 0},
        // Field values so large that 32-bit sums would wrap onto a known duration.
        {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cycle_code(c.months, c.days, c.hours, c.minutes), c.code)
            << c.months << "-" << c.days << "T" << c.hours << ":" << c.minutes;
}

TEST(LoggerCodes, ExportFileKindFromTheEnding) {
    struct Case {
        const char* name;
        std::uint8_t kind;
    };
    const Case cases[] = {
        {"DATA.CSV", 0}, {"a.csv", 0}, {"log.dif", 2}, {"log.DiF", 2}, {"out.txt", 4}, {"out.TXT", 4},
        {"book.xls", 1}, {"noext", 1}, {".csv", 1}, {"", 1}, {"x.cs", 1}, {"dir.csv/x", 1},
    };
    for (const Case& c : cases) EXPECT_EQ(export_file_kind(c.name), c.kind) << '"' << c.name << '"';
}

TEST(LoggerKinds, FirstFiveCharactersNameTheKind) {
    EXPECT_EQ(kind_of("stand"), LoggerKind::stand);
    EXPECT_EQ(kind_of("standard"), LoggerKind::stand);
    EXPECT_EQ(kind_of("republisher"), LoggerKind::repub);
    EXPECT_EQ(kind_of("resub"), LoggerKind::resub);
    EXPECT_EQ(kind_of("stan"), LoggerKind::other);
    EXPECT_EQ(kind_of("pump"), LoggerKind::other);
    EXPECT_EQ(kind_of(""), LoggerKind::other);
    EXPECT_EQ(record_size(LoggerKind::stand), 32220u);
    EXPECT_EQ(record_size(LoggerKind::repub), 8040u);
    EXPECT_EQ(record_size(LoggerKind::resub), 1480u);
    EXPECT_EQ(record_size(LoggerKind::other), 0u);
}

TEST(LoggerBinary, EachKindRoundTripsByteForByte) {
    TempDir dir;
    const struct {
        const char* kind;
        std::size_t size;
    } kinds[] = {{"stand", 32220}, {"repub", 8040}, {"resub", 1480}, {"pump", 77}};
    unsigned seed = 1;
    for (const auto& k : kinds) {
        const auto record = random_bytes(k.size, seed++);
        ASSERT_EQ(write_locked(dir.str(), k.kind, 3, record), 0) << k.kind;
        EXPECT_EQ(file_bytes(dir.path() / (std::string(k.kind) + "_3")), record) << k.kind;
        std::vector<std::uint8_t> back(k.size, 0xAA);
        ASSERT_EQ(read_binary(dir.str(), k.kind, 3, back), 0) << k.kind;
        EXPECT_EQ(back, record) << k.kind;
    }
}

TEST(LoggerBinary, ShortFileLeavesNoStaleBytesInTheRecord) {
    TempDir dir;
    const auto head = random_bytes(100, 7);
    put_file(dir.path() / "stand_1", head);
    std::vector<std::uint8_t> record(kStandRecordSize, 0xAA);
    ASSERT_EQ(read_binary(dir.str(), "stand", 1, record), 0);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), record.begin()));
    EXPECT_TRUE(std::all_of(record.begin() + 100, record.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(LoggerBinary, BytesBeyondTheRecordSurviveASave) {
    TempDir dir;
    const auto old_file = random_bytes(2000, 9);
    put_file(dir.path() / "resub_2", old_file);
    const auto record = random_bytes(kResubRecordSize, 10);
    ASSERT_EQ(write_locked(dir.str(), "resub", 2, record), 0);
    auto expected = record;
    expected.insert(expected.end(), old_file.begin() + kResubRecordSize, old_file.end());
    EXPECT_EQ(file_bytes(dir.path() / "resub_2"), expected);
    // Only the finished file is left in the folder.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().filename().string().find("resub") != std::string::npos) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(LoggerBinary, AFileCopiedFromAnotherSystemIsFoundWithoutCase) {
    TempDir dir;
    const auto record = random_bytes(kRepubRecordSize, 11);
    put_file(dir.path() / "REPUB_4", record);
    std::vector<std::uint8_t> back(kRepubRecordSize);
    ASSERT_EQ(read_binary(dir.str(), "repub", 4, back), 0);
    EXPECT_EQ(back, record);
}

TEST(LoggerBinary, FailuresReportTheReason) {
    TempDir dir;
    std::vector<std::uint8_t> record(16);
    EXPECT_EQ(read_binary(dir.str(), "stand", 9, record), -1);
    EXPECT_EQ(errno, ENOENT);
    // A kind name is part of a file name and may not lead out of the folder.
    EXPECT_EQ(read_binary(dir.str(), "../stand", 1, record), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(write_locked(dir.str(), "a/b", 1, record), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(write_locked(dir.str(), "stand", -1, record), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "a"));
}

}  // namespace
