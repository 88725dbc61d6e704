// Opening a data location: which collections the handler opens beside the one named, and the
// latest runs it shows; failures leave nothing open.
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "local_server/local_fixtures.h"
#include "log_stores/local_server/local_data_server.h"
#include "platform/last_error.h"
#include "platform/registry_key.h"
#include "platform/remote_path.h"

namespace {

using local_server_test::DataLocation;
using local_server_test::Kind;
using log_stores::local::LocalDataServer;

class LocalOpenTest : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        if (const std::string why = local_server_test::unavailable_reason(GetParam()); !why.empty())
            GTEST_SKIP() << why;
    }
};

enum class Only { kAny, kFolder, kDatabase };

struct OpenCase {
    const char* name;
    Only only;
    std::string main;                    // the logger (folder or LoggerName) opened
    std::optional<std::string> sibling;  // a second logger written beside it
    std::optional<std::string> second;   // the second collection expected
};

TEST_P(LocalOpenTest, OpensTheNamedCollectionAndItsSibling) {
    const std::vector<OpenCase> cases = {
        {"_FAST_LOG opens the name without it too", Only::kAny, "PLANT_FAST_LOG", "PLANT", "PLANT"},
        {"a folder FAST_LOG opens SLOW_LOG too", Only::kFolder, "FAST_LOG", "SLOW_LOG", "SLOW_LOG"},
        {"a logger ...FAST_LOG opens ...SLOW_LOG too", Only::kDatabase, "LINEFAST_LOG", "LINESLOW_LOG",
         "LINESLOW_LOG"},
        {"a logger named FAST_LOG alone opens one collection", Only::kDatabase, "FAST_LOG", "SLOW_LOG",
         std::nullopt},
        {"letter case of the suffix ignored", Only::kAny, "plant_fast_log", "plant", "plant"},
        {"a name without the suffix opens one collection", Only::kAny, "PLANT", "PLANT_FAST_LOG",
         std::nullopt},
    };
    const bool folder = GetParam() == Kind::kFolder;
    for (const OpenCase& c : cases) {
        if ((c.only == Only::kFolder && !folder) || (c.only == Only::kDatabase && folder)) continue;
        SCOPED_TRACE(c.name);
        local_server_test::LocationOptions options;
        options.logger = c.main;
        auto where = DataLocation::make(GetParam(), options);
        ASSERT_NE(where, nullptr);
        if (c.sibling) {
            ASSERT_EQ(where->add_logger(*c.sibling, {}), 0);
        }

        LocalDataServer server;
        ASSERT_EQ(server.Open(where->location().c_str()), 0) << platform::last_error();
        ASSERT_TRUE(server.collections_[0]);
        ASSERT_TRUE(server.spare_);
        EXPECT_EQ(server.database_, GetParam() != Kind::kFolder);
        const auto name_of = [&](const LocalDataServer::Collection& col) {
            return GetParam() == Kind::kFolder ? col.folder : col.logger_name;
        };
        const std::string expected_main = GetParam() == Kind::kFolder ? where->folder() : c.main;
        EXPECT_EQ(name_of(*server.collections_[0]), expected_main);

        // The latest run of the main collection is the one still logging.
        const log_stores::local::CurrentRun& main_run = server.collections_[0]->current;
        ASSERT_NE(main_run.store, nullptr);
        EXPECT_EQ(main_run.header.start.seconds, local_server_test::kLoggingStart);
        EXPECT_EQ(main_run.header.blockCount, 3);
        EXPECT_NE(main_run.header_text.find("PLANT NORTH"), std::string::npos) << main_run.header_text;

        if (c.second) {
            ASSERT_TRUE(server.collections_[1]);
            const std::string expected =
                GetParam() == Kind::kFolder ? where->location_of(*c.second) : *c.second;
            EXPECT_EQ(name_of(*server.collections_[1]), expected);
            ASSERT_NE(server.collections_[1]->current.store, nullptr);
            // The second collection's run answers.
            EXPECT_EQ(server.answering_run(), &server.collections_[1]->current);
            EXPECT_EQ(server.other_run(), &server.collections_[0]->current);
        } else {
            EXPECT_FALSE(server.collections_[1]);
            EXPECT_EQ(server.answering_run(), &server.collections_[0]->current);
            EXPECT_EQ(server.other_run(), nullptr);
        }

        server.Close();
        EXPECT_FALSE(server.collections_[0]);
        EXPECT_FALSE(server.collections_[1]);
        EXPECT_FALSE(server.spare_);
        EXPECT_EQ(server.answering_run(), nullptr);
    }
}

TEST_P(LocalOpenTest, ALoggerWithoutRunsOpensWithoutCurrentRun) {
    local_server_test::LocationOptions options;
    options.finished_run = false;
    options.logging_run = false;
    auto where = DataLocation::make(GetParam(), options);
    ASSERT_NE(where, nullptr);
    LocalDataServer server;
    ASSERT_EQ(server.Open(where->location().c_str()), 0) << platform::last_error();
    EXPECT_EQ(server.answering_run(), nullptr);
}

TEST_P(LocalOpenTest, OpensAgainAfterClose) {
    auto where = DataLocation::make(GetParam());
    ASSERT_NE(where, nullptr);
    LocalDataServer server;
    ASSERT_EQ(server.Open(where->location().c_str()), 0);
    // A second Open closes what the first opened.
    ASSERT_EQ(server.Open(where->location().c_str()), 0);
    ASSERT_NE(server.answering_run(), nullptr);
    EXPECT_EQ(server.answering_run()->header.start.seconds, local_server_test::kLoggingStart);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LocalOpenTest, ::testing::Values(Kind::kFolder, Kind::kSqlite, Kind::kMySql),
                         [](const ::testing::TestParamInfo<Kind>& p) {
                             return std::string(local_server_test::kind_name(p.param));
                         });

TEST(LocalOpenFailure, ADatabaseLocationWithoutLoggerNameFailsWithErrorZero) {
    auto where = DataLocation::make(Kind::kSqlite);
    ASSERT_NE(where, nullptr);
    LocalDataServer server;
    platform::set_last_error(5);
    errno = 5;
    EXPECT_EQ(server.Open(where->connection().c_str()), -1);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(platform::last_error(), 0);
    EXPECT_FALSE(server.collections_[0]);
    EXPECT_FALSE(server.spare_);
}

TEST(LocalOpenFailure, ASecondFolderThatCannotBeOpenedLeavesOneCollection) {
    local_server_test::LocationOptions options;
    options.logger = "PLANT_FAST_LOG";
    auto where = DataLocation::make(Kind::kFolder, options);  // no PLANT beside it
    ASSERT_NE(where, nullptr);
    LocalDataServer server;
    ASSERT_EQ(server.Open(where->location().c_str()), 0) << platform::last_error();
    EXPECT_TRUE(server.collections_[0]);
    EXPECT_FALSE(server.collections_[1]);
    EXPECT_EQ(server.answering_run(), &server.collections_[0]->current);
}

TEST(LocalOpenFailure, AMissingFolderFailsAndKeepsNothing) {
    auto where = DataLocation::make(Kind::kFolder);
    ASSERT_NE(where, nullptr);
    LocalDataServer server;
    const std::string missing = where->location_of("NOT_THERE");
    EXPECT_EQ(server.Open(missing.c_str()), -1);
    EXPECT_NE(platform::last_error(), 0);
    EXPECT_FALSE(server.collections_[0]);
    EXPECT_FALSE(server.spare_);
    // Still usable.
    EXPECT_EQ(server.Open(where->location().c_str()), 0);
}

TEST(LocalOpenFailure, OverLongLocationsAreRefused) {
    LocalDataServer server;
    const std::string folder = "/" + std::string(300, 'a');
    EXPECT_EQ(server.Open(folder.c_str()), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    const std::string database = "Provider=SQLite.File;Data Source=/x.db;LoggerName=" + std::string(101, 'L');
    EXPECT_EQ(server.Open(database.c_str()), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    EXPECT_EQ(server.Open(nullptr), -1);
    EXPECT_EQ(server.Open(""), -1);
}

// A folder of another machine, mounted here through RemoteMachines: the collection works on
// it as on a local folder, and a bare machine name is one whose files are reached by path, so
// no server is kept for it.
TEST(LocalOpenRemote, AMappedMachinesFolderOpensWithoutAServer) {
    local_server_test::LocationOptions options;
    auto where = DataLocation::make(Kind::kFolder, options);
    ASSERT_NE(where, nullptr);
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, platform::kRemoteMachinesKey,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string("PLANT2", where->parent().parent_path().string()), 0);

    LocalDataServer server;
    ASSERT_EQ(server.Open("\\\\PLANT2\\LOGGED_DATA\\PLANT"), 0) << platform::last_error();
    ASSERT_TRUE(server.collections_[0]);
    EXPECT_EQ(server.collections_[0]->folder, "\\\\PLANT2\\LOGGED_DATA\\PLANT");
    EXPECT_EQ(server.server_name_, "");
    ASSERT_NE(server.answering_run(), nullptr);
    EXPECT_EQ(server.answering_run()->header.start.seconds, local_server_test::kLoggingStart);
}

TEST(SecondCollectionName, FollowsTheSuffixRules) {
    using log_stores::local::SecondCollectionName;
    EXPECT_EQ(SecondCollectionName("/d/PLANT_FAST_LOG"), "/d/PLANT");
    EXPECT_EQ(SecondCollectionName("/d/FAST_LOG"), "/d/SLOW_LOG");
    EXPECT_EQ(SecondCollectionName("KILNFAST_LOG"), "KILNSLOW_LOG");
    EXPECT_EQ(SecondCollectionName("x_fast_log"), "x");
    // The suffix alone is no name.
    EXPECT_EQ(SecondCollectionName("_FAST_LOG"), "_SLOW_LOG");
    EXPECT_EQ(SecondCollectionName("FAST_LOG"), std::nullopt);
    EXPECT_EQ(SecondCollectionName("PLANT"), std::nullopt);
    EXPECT_EQ(SecondCollectionName("PLANT_SLOW_LOG"), std::nullopt);
}

}  // namespace
