// New runs, runs taken into use for logging, finished and deleted runs of the file
// collection, on real run files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "collection_fixture.h"
#include "log_stores/run_file/run_name.h"
#include "log_stores/run_file_collection/run_file_collection.h"
#include "log_stores/run_file_store/run_file_store.h"
#include "platform/last_error.h"
#include "platform/process_run.h"
#include "run_file_fixture.h"

namespace {

using namespace collection_test;
using log_stores::CLogFileCollection;
using log_stores::CLogStore;
using log_stores::LogHeader;

constexpr std::int32_t kStart = 1704164645;  // 240102_030405
constexpr std::int32_t kStop = 1704168000;   // 240102_040000
const std::string kRunning = "L1_240102_030405.qdl";
const std::string kFinished = "L1_240102_030405_240102_040000.qdl";

std::string location_of(CLogStore& store) {
    char path[300] = {};
    std::size_t size = sizeof path;
    store.GetLocation(path, &size);
    return path;
}

class CollectionRuns : public CollectionTest {
  protected:
    void SetUp() override {
        CollectionTest::SetUp();
        ASSERT_EQ(collection_.Open(nullptr, folder_.c_str(), "L1", "L1_", kReadWrite), 0);
    }
    std::unique_ptr<CLogStore> new_run(const char* text, bool archive = false) {
        std::int32_t start = kStart;
        return collection_.NewRun(&start, false, 0, header_, text, archive, nullptr, false, configs_.get());
    }
    // A run with `records` records under `name`, closed.
    void make_run(const std::string& name, std::int32_t records) {
        log_stores::CLogFileStore store;
        ASSERT_EQ(store.CreateRunFile((folder_ / name).c_str(), header_, nullptr, configs_.get()), 0);
        if (records > 0) {
            const auto bytes = run_file_test::make_records(header_, 0, records);
            ASSERT_EQ(store.WriteLogs(header_, bytes.data(), records), 0);
        }
        store.Close();
    }
    std::int32_t records_in(const std::string& name) {
        log_stores::CLogFileStore store;
        if (store.Open(nullptr, (folder_ / name).c_str(), kRead) != 0) return -1;
        LogHeader h;
        return store.ReadHeader(h) == 0 ? h.recordCount : -1;
    }

    fs::path folder_ = root_ / "runs";
    LogHeader header_ = run_file_test::make_header(2, 3, kStart);
    run_file_test::Configurations configs_ = run_file_test::make_configurations(header_);
    CLogFileCollection collection_;
};

TEST_F(CollectionRuns, ANewRunIsOpenForLoggingWithItsHeaderText) {
    auto store = new_run("[HEADER]\r\nLine 1 \xB0" "C\r\n");
    ASSERT_NE(store, nullptr) << platform::last_error();
    EXPECT_EQ(location_of(*store), (folder_ / kRunning).string());
    EXPECT_EQ(qvr_test::read_file(folder_ / "L1_240102_030405.txt"), "[HEADER]\r\nLine 1 \xB0" "C\r\n");
    const auto records = run_file_test::make_records(header_, 0, 5);
    EXPECT_EQ(store->WriteLogs(header_, records.data(), 5), 0);
    const TimeStamp start{kStart, 0, 0}, stop{kStop, 0, 0};
    ASSERT_EQ(collection_.FinishRun(*store, &start, &stop, true), 0);
    EXPECT_EQ(entries(folder_), (std::set<std::string>{kFinished, "L1_240102_030405_240102_040000.txt"}));
    EXPECT_FALSE(writable(folder_ / kFinished));
    EXPECT_FALSE(writable(folder_ / "L1_240102_030405_240102_040000.txt"));
    EXPECT_EQ(location_of(*store), (folder_ / kFinished).string());
    EXPECT_EQ(records_in(kFinished), 5);
}

TEST_F(CollectionRuns, AUtf16HeaderTextIsWrittenBehindItsByteOrderMark) {
    std::int32_t start = kStart;
    auto store = collection_.NewRunW(&start, false, 0, header_, u"\u20AC A", false, nullptr, false, configs_.get());
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(qvr_test::read_file(folder_ / "L1_240102_030405.txt"), std::string("\xFF\xFE\xAC\x20 \0A\0", 8));
    const std::string text = qvr_test::read_file(folder_ / "L1_240102_030405.txt");
    // The same second again while the first run is being logged: refused before any companion.
    auto again = collection_.NewRunW(&start, false, 0, header_, u"other", false, nullptr, false, configs_.get());
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(platform::last_error(), platform::kErrorLockViolation);
    EXPECT_EQ(qvr_test::read_file(folder_ / "L1_240102_030405.txt"), text);
}

// The prefix begins the run's file name: with a separator in it the run or its companion
// would lie in another folder, and its event lines could not be added. Such a prefix, and a
// start whose name would not read back, make nothing.
TEST_F(CollectionRuns, APrefixWithASeparatorOrAStartPastTheCountMakesNoRun) {
    for (const char* prefix : {"L\\1_", "L/1_", "..\\L1_"}) {
        SCOPED_TRACE(prefix);
        CLogFileCollection c;
        ASSERT_EQ(c.Open(nullptr, folder_.c_str(), "L1", prefix, kReadWrite), 0);
        std::int32_t start = kStart;
        platform::set_last_error(0);
        EXPECT_EQ(c.NewRun(&start, false, 0, header_, "[HEADER]\r\n", false, nullptr, false, configs_.get()), nullptr);
        EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
        EXPECT_STREQ(c.GetErrorContext(), "Bad run prefix");
        EXPECT_TRUE(entries(folder_).empty());
    }
    std::int32_t past = -1;  // 2106 as an unsigned count: a name of year 06 would read 2006
    EXPECT_EQ(collection_.NewRun(&past, false, 0, header_, "[HEADER]\r\n", false, nullptr, false, configs_.get()),
              nullptr);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    EXPECT_TRUE(entries(folder_).empty());

    // A plain prefix: the run takes its event lines.
    auto store = new_run("[HEADER]\r\n");
    ASSERT_NE(store, nullptr);
    ASSERT_EQ(store->AddText(kStart + 1, "Started", nullptr, nullptr), 0) << platform::last_error();
    char text[200] = {};
    std::size_t size = sizeof text;
    EXPECT_EQ(store->ReadSection("TEXT", text, &size, 0, 0), 1);
    EXPECT_NE(std::strstr(text, "Started"), nullptr) << text;
}

TEST_F(CollectionRuns, ARunNameInUseKeepsItsRunAndItsCompanions) {
    make_run(kRunning, 3);
    qvr_test::write_file(folder_ / "L1_240102_030405.txt", "old text");
    EXPECT_EQ(new_run("new text"), nullptr);
    EXPECT_EQ(platform::last_error(), platform::kErrorFileExists);
    EXPECT_EQ(qvr_test::read_file(folder_ / "L1_240102_030405.txt"), "old text");
    EXPECT_EQ(records_in(kRunning), 3);
    EXPECT_EQ(entries(folder_), (std::set<std::string>{kRunning, "L1_240102_030405.txt"}));

    // What a failed create left (no record) is made anew.
    fs::remove(folder_ / kRunning);
    make_run(kRunning, 0);
    auto store = new_run("new text");
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(qvr_test::read_file(folder_ / "L1_240102_030405.txt"), "new text");
}

TEST_F(CollectionRuns, TheArchiveIsMadeInTheConfigurationFolderWhateverTheCurrentFolder) {
    const fs::path config = root_ / "configs" / "CURRENT";
    qvr_test::write_file(config / "LOGGERS" / "LOGGER_1.txt", "[A]\r\n");
    qvr_test::write_file(config / "device.xml", "<d/>");
    qvr_test::write_file(root_ / "configs" / "SAVED_VALUES" / "v.dat", "v");
    fs::create_directories(root_ / "saved");
    setenv("QVR_CURRENT_CONFIG", config.c_str(), 1);
    setenv("QVR_SAVED_CONFIG", (root_ / "saved").c_str(), 1);
    const fs::path elsewhere = root_ / "elsewhere";
    fs::create_directories(elsewhere);
    const fs::path before = fs::current_path();
    fs::current_path(elsewhere);

    auto store = new_run(nullptr, true);
    const fs::path after = fs::current_path();
    fs::current_path(before);
    ASSERT_NE(store, nullptr) << platform::last_error();
    EXPECT_EQ(after, elsewhere);
    const fs::path archive = folder_ / "L1_240102_030405.qvr";
    ASSERT_TRUE(fs::exists(archive));
    EXPECT_EQ(qvr_test::read_file(archive).substr(0, 4), "SZDD");
    EXPECT_TRUE(fs::is_empty(root_ / "saved"));
    EXPECT_TRUE(fs::is_empty(elsewhere));

    // Unpacked, it holds the configuration and its sibling folders.
    platform::RunOptions options;
    options.capture_stdout = true;
    platform::RunResult result;
    ASSERT_EQ(platform::run_program({"sh", "-c", "msexpand < \"$0\" | tar -P -tf -", archive.string()}, options, result),
              0);
    EXPECT_NE(result.out.find("./LOGGERS/LOGGER_1.txt"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("./device.xml"), std::string::npos);
    EXPECT_NE(result.out.find("../SAVED_VALUES/v.dat"), std::string::npos);

    // A failed archive makes no run and leaves no companion.
    store.reset();
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    setenv("QVR_CURRENT_CONFIG", (root_ / "missing").c_str(), 1);
    EXPECT_EQ(new_run("text", true), nullptr);
    EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(CollectionRuns, UseforLoggingChecksTheRunAndBringsAFinishedOneBack) {
    make_run(kFinished, 4);
    qvr_test::write_file(folder_ / "L1_240102_030405_240102_040000.TXT", "[HEADER]\r\n");
    qvr_test::write_file(folder_ / "L1_240102_030405_240102_040000.qvr", "archive");
    ::chmod((folder_ / kFinished).c_str(), 0444);
    auto store = collection_.OpenStore(kFinished.c_str(), kReadWrite);
    ASSERT_NE(store, nullptr) << platform::last_error();
    LogHeader h;
    ASSERT_EQ(store->ReadHeader(h), 0);

    EXPECT_EQ(collection_.UseforLogging(*store, h, "L2_", true, true), -1);
    EXPECT_STREQ(collection_.GetErrorContext(), "Prefixes don't match");
    EXPECT_EQ(std::string(collection_.GetErrorText()),
              "Prefixes don't match, Path " + (folder_ / kFinished).string() + ", LogPrefix L2_");

    ASSERT_EQ(collection_.UseforLogging(*store, h, "l1_", true, true), 0) << collection_.GetErrorText();
    EXPECT_EQ(location_of(*store), (folder_ / kRunning).string());
    EXPECT_EQ(entries(folder_),
              (std::set<std::string>{kRunning, "L1_240102_030405.txt", "L1_240102_030405.qvr"}));
    EXPECT_TRUE(writable(folder_ / "L1_240102_030405.txt"));
    const auto more = run_file_test::make_records(h, 4, 2);
    EXPECT_EQ(store->WriteLogs(h, more.data(), 2), 0);
    store->Close();
    EXPECT_EQ(records_in(kRunning), 6);
}

TEST_F(CollectionRuns, UseforLoggingNamesWhatIsMissing) {
    make_run(kRunning, 1);
    auto store = collection_.OpenStore(kRunning.c_str(), kReadWrite);
    ASSERT_NE(store, nullptr);
    LogHeader h;
    ASSERT_EQ(store->ReadHeader(h), 0);
    EXPECT_EQ(collection_.UseforLogging(*store, h, "L1_", true, false), -1);
    EXPECT_STREQ(collection_.GetErrorContext(), "Cant determine text file name");
    EXPECT_STREQ(collection_.GetErrorText(), "Cant determine text file name");
    qvr_test::write_file(folder_ / "L1_240102_030405.txt", "");
    EXPECT_EQ(collection_.UseforLogging(*store, h, "L1_", true, true), -1) << "no archive";
    EXPECT_EQ(collection_.UseforLogging(*store, h, "", true, false), 0) << "an empty prefix always matches";
}

TEST_F(CollectionRuns, FinishingWithoutAStartDeletesTheRunAndItsCompanions) {
    make_run(kRunning, 2);
    for (const char* companion : {"L1_240102_030405.txt", "L1_240102_030405.qvr", "L1_240102_030405.zip"})
        qvr_test::write_file(folder_ / companion, "c");
    qvr_test::write_file(folder_ / "L1_240102_050000.txt", "another run's");
    auto store = collection_.OpenStore(kRunning.c_str(), kRead);
    ASSERT_NE(store, nullptr);
    ASSERT_EQ(collection_.FinishRun(*store, nullptr, nullptr, false), 0);
    EXPECT_EQ(entries(folder_), std::set<std::string>{"L1_240102_050000.txt"});
    EXPECT_EQ(collection_.FinishRun(*store, nullptr, nullptr, false), -1) << "already gone";
}

TEST_F(CollectionRuns, FinishingARunWithoutCompanionsStillRenamesIt) {
    make_run(kRunning, 2);
    auto store = collection_.OpenStore(kRunning.c_str(), kReadWrite);
    ASSERT_NE(store, nullptr);
    const TimeStamp start{kStart, 0, 0}, stop{kStop, 0, 0};
    ASSERT_EQ(collection_.FinishRun(*store, &start, &stop, false), 0);
    EXPECT_EQ(entries(folder_), std::set<std::string>{kFinished});
    EXPECT_TRUE(writable(folder_ / kFinished));

    // A finished name already taken: the run keeps its name.
    make_run(kRunning, 1);
    auto second = collection_.OpenStore(kRunning.c_str(), kReadWrite);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(collection_.FinishRun(*second, &start, &stop, false), 0);
    EXPECT_EQ(entries(folder_), (std::set<std::string>{kRunning, kFinished}));
    EXPECT_EQ(records_in(kFinished), 2);

    // Without a stop the new name carries the start only.
    auto third = collection_.OpenStore(kRunning.c_str(), kReadWrite);
    ASSERT_NE(third, nullptr);
    const TimeStamp later{kStop, 0, 0};
    ASSERT_EQ(collection_.FinishRun(*third, &later, nullptr, false), 0);
    EXPECT_EQ(entries(folder_), (std::set<std::string>{"L1_240102_040000.qdl", kFinished}));
}

}  // namespace
