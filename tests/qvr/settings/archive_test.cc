#include "qvr/settings/archive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "platform/process_run.h"
#include "platform/registry_key.h"
#include "qvr/settings/reg.h"
#include "support/temp_dir.h"
#include "support/test_env.h"

namespace fs = std::filesystem;

namespace {

// A saved configuration "CURRENT" with its sibling folders, the saved-configuration folder
// and an output folder; the test process works in the configuration folder.
class ArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        config_ = root_ / "configs" / "CURRENT";
        qvr_test::write_file(config_ / "device.xml", std::string(3000, 'd'));
        qvr_test::write_file(config_ / "sub" / "table.csv", "1,2,3\n");
        qvr_test::write_file(root_ / "configs" / "SAVED_VALUES" / "values.dat", "v");
        fs::create_directories(root_ / "saved");
        fs::create_directories(root_ / "out");
        setenv("QVR_SAVED_CONFIG", (root_ / "saved").c_str(), 1);
        fs::current_path(config_);
    }
    void TearDown() override { fs::current_path(qvr_test::test_root()); }

    // Members of a tar file, sorted.
    std::set<std::string> members(const fs::path& tar_file) {
        platform::RunOptions options;
        options.capture_stdout = true;
        platform::RunResult result;
        EXPECT_EQ(platform::run_program({"tar", "-tf", tar_file.string()}, options, result), 0);
        EXPECT_EQ(result.exit_code, 0);
        std::set<std::string> names;
        std::istringstream lines(result.out);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && line.back() != '/') names.insert(line);
        return names;
    }

    // Everything in a folder, to see that no temporary or half file stays behind.
    static std::set<std::string> entries(const fs::path& folder) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.insert(entry.path().filename().string());
        return names;
    }

    void put_on_path(const std::string& program, const std::string& script) {
        qvr_test::write_file(tools_ / program, script);
        ::chmod((tools_ / program).c_str(), 0755);
        const char* path = std::getenv("PATH");
        setenv("PATH", (tools_.str() + ":" + (path != nullptr ? path : "/usr/bin:/bin")).c_str(), 1);
    }

    qvr_test::TempDir root_;
    qvr_test::TempDir tools_;
    fs::path config_;
    const std::set<std::string> expected_ = {"./device.xml", "./sub/table.csv", "../SAVED_VALUES/values.dat"};
};

}  // namespace

TEST_F(ArchiveTest, QvrRoundTripThroughRealTarAndCompress) {
    const fs::path target = root_ / "out" / "Line1.QVR";  // the extension in any case
    ASSERT_EQ(save_ArchiveConfig(target.c_str(), nullptr, 0), 0) << errno;
    EXPECT_EQ(qvr_test::read_file(target).substr(0, 4), "SZDD");
    EXPECT_EQ(entries(root_ / "out"), std::set<std::string>{"Line1.QVR"});
    EXPECT_TRUE(entries(root_ / "saved").empty()) << "the intermediate tar file is deleted";

    const fs::path unpacked = root_ / "unpacked.tar";
    platform::RunResult result;
    ASSERT_EQ(platform::run_program(
                  {"sh", "-c", "msexpand < \"$0\" > \"$1\"", target.string(), unpacked.string()}, {}, result),
              0);
    EXPECT_EQ(members(unpacked), expected_);
}

TEST_F(ArchiveTest, QuotedTarTargetAndExtraFoldersOfTheEdition) {
    platform::RegistryKey maker;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kMakerKey,
                                            platform::kKeyAllAccess, maker),
              0);
    ASSERT_EQ(maker.set_string("ProductName", "Voxa"), 0);
    qvr_test::write_file(root_ / "configs" / "TRENDS" / "t.trd", "t");
    qvr_test::write_file(root_ / "configs" / "ELSEWHERE" / "e.txt", "e");

    const fs::path plain = root_ / "out" / "plain.tar";
    ASSERT_EQ(save_ArchiveConfig(("\"" + plain.string() + "\"").c_str(), nullptr, 0), 0);
    EXPECT_EQ(members(plain), expected_);

    const fs::path with_extra = root_ / "out" / "extra.tar";
    ASSERT_EQ(save_ArchiveConfig(with_extra.c_str(), nullptr, 1), 0);
    std::set<std::string> expected = expected_;
    expected.insert("../TRENDS/t.trd");
    EXPECT_EQ(members(with_extra), expected);

    // The registry's list replaces the edition's.
    platform::RegistryKey product;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey,
                                            platform::kKeyAllAccess, product),
              0);
    ASSERT_EQ(product.set_string("ExtraSaveDirs", "ELSEWHERE;SAVED_VALUES;MISSING"), 0);
    EXPECT_EQ(qvr::archive_extra_folders(), "ELSEWHERE;SAVED_VALUES;MISSING");
    const fs::path listed = root_ / "out" / "listed.tar";
    ASSERT_EQ(save_ArchiveConfig(listed.c_str(), nullptr, 1), 0);
    expected = expected_;
    expected.insert("../ELSEWHERE/e.txt");
    EXPECT_EQ(members(listed), expected);
}

TEST_F(ArchiveTest, NamesWithQuotesAndShellTextAreTakenLiterally) {
    const fs::path target = root_ / "out" / "my \"cfg\" $(touch INJECTED) ; x.tar";
    ASSERT_EQ(save_ArchiveConfig(target.c_str(), nullptr, 0), 0);
    EXPECT_EQ(members(target), expected_);
    EXPECT_FALSE(fs::exists(config_ / "INJECTED"));
    EXPECT_FALSE(fs::exists(root_ / "out" / "INJECTED"));
    EXPECT_EQ(entries(root_ / "out").size(), 1u);
}

TEST_F(ArchiveTest, AnArchiverWarningFailsAndLeavesNoFile) {
    // A tar that writes its archive but complains, as one that skipped an unreadable file.
    put_on_path("tar", "#!/bin/sh\n: > \"$3\"\necho 'tar: ./x: Cannot open' >&2\nexit 0\n");
    EXPECT_EQ(save_ArchiveConfig((root_ / "out" / "warned.tar").c_str(), nullptr, 0), -1);
    EXPECT_TRUE(entries(root_ / "out").empty());
    EXPECT_EQ(save_ArchiveConfig((root_ / "out" / "warned.qvr").c_str(), nullptr, 0), -1);
    EXPECT_TRUE(entries(root_ / "saved").empty());
    EXPECT_TRUE(entries(root_ / "out").empty());
}

TEST_F(ArchiveTest, AFailingArchiverGivesItsExitCode) {
    put_on_path("tar", "#!/bin/sh\nexit 2\n");
    EXPECT_EQ(save_ArchiveConfig((root_ / "out" / "failed.tar").c_str(), nullptr, 0), -1);
    EXPECT_EQ(errno, 2);
    EXPECT_TRUE(entries(root_ / "out").empty());
}

TEST_F(ArchiveTest, QvrNeedsTheSavedConfigurationFolder) {
    setenv("QVR_SAVED_CONFIG", (root_ / "nowhere").c_str(), 1);
    EXPECT_EQ(save_ArchiveConfig((root_ / "out" / "x.qvr").c_str(), nullptr, 0), -1);
    EXPECT_TRUE(entries(root_ / "out").empty());
}

TEST_F(ArchiveTest, OtherTargetsGoToTheProductArchiver) {
    qvr_test::TempDir bin;
    // Records its arguments and writes the archive it was asked for.
    qvr_test::write_file(
        bin / "qvzip", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args\"\necho zip > \"$3\"\n");
    ::chmod((bin / "qvzip").c_str(), 0755);
    setenv("QVR_BIN", bin.str().c_str(), 1);
    qvr_test::write_file(root_ / "configs" / "REPLAY_OPTIONS" / "r.opt", "r");

    const fs::path target = root_ / "out" / "Line 1.zip";
    ASSERT_EQ(save_ArchiveConfig(target.c_str(), nullptr, 0), 0);
    EXPECT_EQ(qvr_test::read_file(target), "zip\n");
    EXPECT_EQ(entries(root_ / "out"), std::set<std::string>{"Line 1.zip"});
    std::istringstream args(qvr_test::read_file(bin / "args"));
    std::vector<std::string> argv;
    for (std::string line; std::getline(args, line);) argv.push_back(line);
    ASSERT_EQ(argv.size(), 6u);
    EXPECT_EQ(argv[0], "-a");
    EXPECT_EQ(argv[1], "-r");
    EXPECT_EQ(fs::path(argv[2]).parent_path(), root_ / "out");
    EXPECT_EQ(argv[3], config_.string());
    EXPECT_EQ(argv[4], (root_ / "configs" / "SAVED_VALUES").string());
    EXPECT_EQ(argv[5], (root_ / "configs" / "REPLAY_OPTIONS").string());

    qvr_test::write_file(bin / "qvzip", "#!/bin/sh\necho half > \"$3\"\nexit 4\n");
    EXPECT_EQ(save_ArchiveConfig((root_ / "out" / "bad.zip").c_str(), nullptr, 0), -1);
    EXPECT_EQ(errno, 4);
    EXPECT_EQ(entries(root_ / "out"), std::set<std::string>{"Line 1.zip"});
}

TEST_F(ArchiveTest, AGivenConfigurationFolderIsPackedFromAnyCurrentFolder) {
    const fs::path elsewhere = root_ / "out";
    fs::current_path(elsewhere);
    const fs::path target = root_ / "out" / "given.tar";
    ASSERT_EQ(save_ArchiveConfig(target.c_str(), nullptr, 0, (config_.string() + "/").c_str()), 0);
    EXPECT_EQ(fs::current_path(), elsewhere);
    EXPECT_EQ(members(target), expected_);

    // A relative target lies in the configuration folder.
    ASSERT_EQ(save_ArchiveConfig("../relative.tar", nullptr, 0, config_.c_str()), 0);
    EXPECT_TRUE(fs::exists(root_ / "configs" / "relative.tar"));
    EXPECT_FALSE(fs::exists(root_ / "relative.tar"));

    EXPECT_EQ(save_ArchiveConfig(target.c_str(), nullptr, 0, (root_ / "missing").c_str()), -1);
    EXPECT_EQ(errno, 3);
    EXPECT_EQ(save_ArchiveConfig(target.c_str(), nullptr, 0, nullptr), -1);
}
