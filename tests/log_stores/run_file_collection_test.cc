#include "log_stores/run_file_collection/run_file_collection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "collection_fixture.h"
#include "platform/last_error.h"

namespace {

using namespace collection_test;
using log_stores::CLogFileCollection;

constexpr std::int32_t k240102_030405 = 1704164645;  // 2024-01-02 03:04:05 UTC
constexpr std::int32_t k240102_040000 = 1704168000;

class FileCollection : public CollectionTest {};

TEST_F(FileCollection, AnEmptyFolderTextIsTheLoggersFolderBelowTheLoggedData) {
    CLogFileCollection reading;
    EXPECT_EQ(reading.Open(nullptr, "", "L1", "L1_", kRead), -1) << "nothing is made without write access";
    EXPECT_FALSE(fs::exists(logged_));

    CLogFileCollection collection;
    ASSERT_EQ(collection.Open(nullptr, nullptr, "L1", "L1_", kReadWrite), 0);
    EXPECT_EQ(collection.folder(), (logged_ / "L1").string());
    EXPECT_TRUE(fs::is_directory(logged_ / "L1"));
    EXPECT_EQ(collection.prefix(), "L1_");
    EXPECT_EQ(reading.Open(nullptr, "", "L1", "L1_", kRead), 0) << "an existing folder opens for reading";
}

TEST_F(FileCollection, MissingFoldersAreMadeOnlyPastTheAnchor) {
    struct Case {
        const char* note;
        const char* edition;
        std::vector<std::string> existing;  // below the root
        std::string folder;                 // below the root
        bool opens;
    };
    const Case cases[] = {
        {"only the last is missing", "Quorvane", {"SITE/FRANCE"}, "SITE/FRANCE/L1", true},
        {"FRANCE and L1 missing", "Quorvane", {"SITE"}, "SITE/FRANCE/L1", true},
        {"SITE missing", "Quorvane", {}, "SITE/FRANCE/L1", false},
        {"the first country of the table", "Quorvane", {"SITE"}, "SITE/CHAD/FRANCE/L1", true},
        {"no anchor: only the last", "Quorvane", {"SITE"}, "SITE/AREA/L1", false},
        {"LOGGED_DATA without a country", "Quorvane", {"SITE"}, "SITE/LOGGED_DATA/AREA/L1", true},
        {"countries match exactly", "Quorvane", {"SITE"}, "SITE/France/L1", false},
        {"a country in Windows-1252", "Quorvane", {"SITE"}, "SITE/\xC5LAND ISLANDS/L1", true},
        {"a country in UTF-8", "Quorvane", {"SITE"}, "SITE/\xC3\x85LAND ISLANDS/L1", true},
        {"Rimvale: no country anchors", "Rimvale", {"SITE"}, "SITE/FRANCE/L1", false},
        {"Rimvale: LOGGED_DATA anchors", "Rimvale", {"SITE"}, "SITE/LOGGED_DATA/FRANCE/L1", true},
        {"Rimvale: the part before LOGGED_DATA must exist", "Rimvale", {}, "SITE/LOGGED_DATA/L1", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.note);
        set_edition(c.edition);
        const fs::path base = root_ / ("case" + std::to_string(n++));
        fs::create_directories(base);
        for (const std::string& folder : c.existing) fs::create_directories(base / folder);
        const std::string folder = (base / c.folder).string();
        CLogFileCollection collection;
        EXPECT_EQ(collection.Open(nullptr, folder.c_str(), "L1", "", kReadWrite), c.opens ? 0 : -1);
        EXPECT_EQ(fs::is_directory(folder), c.opens);
        if (!c.opens) {
            EXPECT_EQ(platform::last_error(), ENOENT);
            // Nothing was made on the way.
            std::size_t made = 0;
            for (auto it = fs::recursive_directory_iterator(base); it != fs::recursive_directory_iterator(); ++it)
                ++made;
            std::size_t existing = 0;
            for (const std::string& f : c.existing) existing += static_cast<std::size_t>(std::count(f.begin(), f.end(), '/')) + 1;
            EXPECT_EQ(made, existing);
        }
    }
}

TEST_F(FileCollection, FolderTextsOfEveryForm) {
    CLogFileCollection drive;
    EXPECT_EQ(drive.Open(nullptr, "C:\\QVR\\LOGGED_DATA\\L1", "L1", "", kReadWrite), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorPathNotFound);
    EXPECT_NE(std::strstr(drive.GetErrorText(), "drive path"), nullptr) << drive.GetErrorText();
    EXPECT_NE(std::strstr(drive.GetErrorText(), "C:\\QVR"), nullptr);
    EXPECT_LT(std::strlen(drive.GetErrorContext()), log_stores::kCollectionErrorContextSize);

    // A product folder's name first; '\' and '/' both separate.
    CLogFileCollection product;
    ASSERT_EQ(product.Open(nullptr, "QVR_LOGGED_DATA\\AREA\\L2", "L2", "", kReadWrite), -1)
        << "AREA is no anchor and is missing";
    fs::create_directories(logged_ / "AREA");
    ASSERT_EQ(product.Open(nullptr, "QVR_LOGGED_DATA\\AREA\\L2", "L2", "", kReadWrite), 0);
    EXPECT_EQ(product.folder(), (logged_ / "AREA" / "L2").string());
    EXPECT_TRUE(fs::is_directory(logged_ / "AREA" / "L2"));

    // An absolute path as it is, a trailing separator dropped.
    CLogFileCollection absolute;
    const std::string text = (root_ / "runs").string() + "/";
    ASSERT_EQ(absolute.Open(nullptr, text.c_str(), "L3", "", kReadWrite), 0);
    EXPECT_EQ(absolute.folder(), (root_ / "runs").string());

    CLogFileCollection file;
    qvr_test::write_file(root_ / "plain", "not a folder");
    EXPECT_EQ(file.Open(nullptr, (root_ / "plain").c_str(), "L5", "", kReadWrite), -1);
    EXPECT_EQ(platform::last_error(), ENOTDIR);

    CLogFileCollection missing;
    EXPECT_EQ(missing.Open(nullptr, (root_ / "none").c_str(), "L4", "", kRead), -1);
    EXPECT_FALSE(fs::exists(root_ / "none"));
}

TEST_F(FileCollection, TheListingHandsOutRunsOnlyInNameOrder) {
    const fs::path folder = root_ / "L1";
    touch(folder / "notes.txt");
    touch(folder / "L1_240102_030405.txt");
    touch(folder / "L1_240102_040000.qdl");                   // running
    touch(folder / "L1_240102_030405_240102_040000.QDL");     // finished, copied from Windows
    touch(folder / "L1_240102030405.qdl");                    // unreadable stamp
    touch(folder / "L1_700101_000000.qdl");                   // start 0
    touch(folder / "L1_500101_000000.qdl");                   // 2050: past 32-bit seconds
    touch(folder / ".L1_240102_050000.qdl");                  // hidden
    fs::create_directories(folder / "sub");
    CLogFileCollection collection;
    ASSERT_EQ(collection.Open(nullptr, folder.c_str(), "L1", "L1_", kRead), 0);
    const std::vector<ListedRun> expected = {
        {"L1_240102_030405_240102_040000.QDL", k240102_030405, k240102_040000},
        {"L1_240102_040000.qdl", k240102_040000, 0},
    };
    EXPECT_EQ(list(collection), expected);
    // Ended lists report the end again, with last error 0.
    char name[log_stores::kRunListNameSize];
    TimeStamp start{}, stop{};
    platform::set_last_error(5);
    EXPECT_EQ(collection.GetNextRun(name, &start, &stop), 0);
    EXPECT_EQ(platform::last_error(), 0);
    EXPECT_EQ(list(collection), expected) << "a second listing is the same";
}

TEST_F(FileCollection, TheLatestRunCountsOnlyTheCollectionsOwnPrefix) {
    const fs::path folder = root_ / "runs";
    touch(folder / "A_240102_030405_240102_040000.qdl");
    touch(folder / "AB_240102_040000.qdl");
    touch(folder / "a_240101_000000.qdl");
    CLogFileCollection collection;
    ASSERT_EQ(collection.Open(nullptr, folder.c_str(), "L", "A_", kRead), 0);

    char name[log_stores::kRunListNameSize] = {};
    std::size_t size = sizeof name;
    TimeStamp start{}, stop{};
    ASSERT_EQ(collection.GetLatestRun(name, &size, &start, &stop, false), 1);
    EXPECT_STREQ(name, "A_240102_030405_240102_040000.qdl");
    EXPECT_EQ(start.seconds, k240102_030405);
    EXPECT_EQ(stop.seconds, k240102_040000);

    ASSERT_EQ(collection.GetLatestRun(name, &size, &start, &stop, true), 1);
    EXPECT_STREQ(name, "AB_240102_040000.qdl");
    EXPECT_EQ(stop.seconds, 0);

    // Outputs not given are left out; a name that does not fit is not cut.
    EXPECT_EQ(collection.GetLatestRun(nullptr, nullptr, &start, nullptr, false), 1);
    EXPECT_EQ(start.seconds, k240102_030405);
    char small[10] = "unchanged";
    size = sizeof small;
    EXPECT_EQ(collection.GetLatestRun(small, &size, nullptr, nullptr, false), 0);
    EXPECT_EQ(platform::last_error(), platform::kErrorInsufficientBuffer);
    EXPECT_EQ(size, std::strlen("A_240102_030405_240102_040000.qdl") + 1);
    EXPECT_STREQ(small, "");

    // Equal starts: the first in name order.
    touch(folder / "A_240102_030405.qdl");
    size = sizeof name;
    ASSERT_EQ(collection.GetLatestRun(name, &size, nullptr, nullptr, false), 1);
    EXPECT_STREQ(name, "A_240102_030405.qdl");

    CLogFileCollection other;
    ASSERT_EQ(other.Open(nullptr, folder.c_str(), "L", "Z_", kRead), 0);
    EXPECT_EQ(other.GetLatestRun(name, &size, nullptr, nullptr, false), 0);
    CLogFileCollection unprefixed;
    ASSERT_EQ(unprefixed.Open(nullptr, folder.c_str(), "L", "", kRead), 0);
    EXPECT_EQ(unprefixed.GetLatestRun(name, &size, nullptr, nullptr, false), 0)
        << "without a prefix the stamp must begin the name";
}

TEST_F(FileCollection, OldRunsGoWithTheirCompanionsAndEveryOtherFileStays) {
    const fs::path folder = root_ / "shared";
    const std::vector<std::string> gone = {
        "L1_240102_030405_240102_040000.qdl", "L1_240102_030405_240102_040000.txt",
        "L1_240102_030405_240102_040000.qvr", "L1_240102_030405_240102_040000.zip",
        "l1_240101_030405_240101_040000.QDL",  // the prefix without case
    };
    const std::vector<std::string> kept = {
        "L1_240102_030405.qdl",                // running
        "L1_240102_030405.txt",                // a running run's text
        "L1_240102_050000_240102_060000.qdl",  // stopped after the time
        "L1_240102_040000_240102_045000.qdl",  // started after the time
        "L2_240102_030405_240102_040000.qdl",  // another logger of the folder
        "L2_240102_030405_240102_040000.txt",
        "L1_500101_000000_500102_000000.qdl",  // 2050 would wrap to before 1970, not be the oldest
        "notes.txt",
    };
    for (const auto& name : gone) touch(folder / name);
    for (const auto& name : kept) touch(folder / name);
    ::chmod((folder / gone[0]).c_str(), 0444);  // finished runs are read-only
    CLogFileCollection collection;
    ASSERT_EQ(collection.Open(nullptr, folder.c_str(), "L1", "L1_", kReadWrite), 0);
    collection.DeleteRunsBefore(k240102_040000 + 1);
    EXPECT_EQ(entries(folder), std::set<std::string>(kept.begin(), kept.end()));

    // Without a prefix every logger's old runs go.
    CLogFileCollection everyone;
    ASSERT_EQ(everyone.Open(nullptr, folder.c_str(), "L1", "", kReadWrite), 0);
    everyone.DeleteRunsBefore(k240102_040000 + 1);
    EXPECT_EQ(entries(folder).count("L2_240102_030405_240102_040000.qdl"), 0u);
    EXPECT_EQ(entries(folder).count("L1_240102_030405.qdl"), 1u);
}

TEST_F(FileCollection, StoreLocationsAreCopiedOnlyWhenTheyFit) {
    CLogFileCollection collection;
    ASSERT_EQ(collection.Open(nullptr, (root_ / "L1").c_str(), "L1", "", kReadWrite), 0);
    const std::string expected = (root_ / "L1" / "L1_240102_030405.qdl").string();
    std::size_t size = 0;
    collection.GetStoreLocation("L1_240102_030405.qdl", nullptr, &size);
    EXPECT_EQ(size, expected.size() + 1);
    std::vector<char> location(expected.size(), 'x');
    size = location.size();
    collection.GetStoreLocation("L1_240102_030405.qdl", location.data(), &size);
    EXPECT_EQ(location[0], 'x');
    EXPECT_EQ(size, expected.size() + 1);
    location.resize(size);
    collection.GetStoreLocation("L1_240102_030405.qdl", location.data(), &size);
    EXPECT_EQ(std::string(location.data()), expected);
}

}  // namespace
