// The local data server behind a kind-3 link: the link opens a handler on the data location,
// hands requests to it and closes it, pausing before the handler goes.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>

#include "local_server/local_fixtures.h"
#include "log_stores/local_server/local_backend.h"
#include "log_stores/local_server/local_backend_testing.h"
#include "platform/last_error.h"
#include "qvr/link/link.h"
#include "qvr/link/link_backend.h"

namespace {

using local_server_test::DataLocation;
using local_server_test::Kind;
namespace local_testing = log_stores::local_testing;

class LocalBackendTest : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        if (const std::string why = local_server_test::unavailable_reason(GetParam()); !why.empty())
            GTEST_SKIP() << why;
        ASSERT_TRUE(local_server_test::close_wait_removed());
        log_stores::RegisterLocalDataServer();
    }
    void TearDown() override { link_CloseAll(); }

    // The reply text of `request`, or "error N".
    static std::string ask(const std::string& server, const std::string& request) {
        std::array<char, 4096> reply{};
        std::uint32_t length = reply.size();
        if (link_SendRequest(server.c_str(), request.c_str(), static_cast<std::uint32_t>(request.size() + 1),
                             reply.data(), &length) < 0)
            return "error " + std::to_string(platform::last_error());
        return std::string(reply.data(), strnlen(reply.data(), length));
    }
};

TEST_P(LocalBackendTest, ALinkToALocationOpensAHandlerAndClosesIt) {
    auto where = DataLocation::make(GetParam());
    ASSERT_NE(where, nullptr);
    ASSERT_EQ(link_GetServerKind(where->location().c_str()), kServerLocalData);
    const std::size_t before = local_testing::live_servers();

    ASSERT_EQ(link_Open(where->location().c_str()), 1) << platform::last_error();
    EXPECT_EQ(local_testing::live_servers(), before + 1);
    // Opening it again uses the same link and handler.
    ASSERT_EQ(link_Open(where->location().c_str()), 1);
    EXPECT_EQ(local_testing::live_servers(), before + 1);

    // Requests reach the handler of the location.
    EXPECT_EQ(ask(where->location(), "ES"), "1");
    EXPECT_EQ(ask(where->location(), "DS"), "0");
    // The fixture's latest run is still logging.
    EXPECT_EQ(ask(where->location(), "RS"), "1");

    link_CloseAll();
    EXPECT_EQ(local_testing::live_servers(), before);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LocalBackendTest,
                         ::testing::Values(Kind::kFolder, Kind::kSqlite, Kind::kMySql),
                         [](const ::testing::TestParamInfo<Kind>& p) {
                             return std::string(local_server_test::kind_name(p.param));
                         });

class LocalBackendFailure : public ::testing::Test {
  protected:
    void SetUp() override { log_stores::RegisterLocalDataServer(); }
    void TearDown() override { link_CloseAll(); }
};

TEST_F(LocalBackendFailure, ALocationThatCannotBeOpenedGivesItsErrorAndNoHandler) {
    auto where = DataLocation::make(Kind::kFolder);
    ASSERT_NE(where, nullptr);
    const std::size_t before = local_testing::live_servers();
    const std::string missing = where->location_of("NOT_THERE");
    EXPECT_EQ(link_Open(missing.c_str()), 0);
    EXPECT_NE(platform::last_error(), 0);
    EXPECT_EQ(local_testing::live_servers(), before);

    // A database location without a logger name: error 0, as the handler gives it.
    auto db = DataLocation::make(Kind::kSqlite);
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(link_Open(db->connection().c_str()), 0);
    EXPECT_EQ(platform::last_error(), 0);
    EXPECT_EQ(local_testing::live_servers(), before);
}

TEST_F(LocalBackendFailure, WithoutRegistrationKindThreeIsNotSupported) {
    auto where = DataLocation::make(Kind::kFolder);
    ASSERT_NE(where, nullptr);
    link_SetLocalDataBackend(nullptr);
    EXPECT_EQ(link_Open(where->location().c_str()), 0);
    EXPECT_EQ(platform::last_error(), kErrorNotSupported);
}

// The one test that keeps the pause: the handler is closed first, destroyed a second later.
TEST_F(LocalBackendFailure, ClosingPausesASecondBeforeTheHandlerGoes) {
    auto where = DataLocation::make(Kind::kFolder);
    ASSERT_NE(where, nullptr);
    ASSERT_EQ(link_Open(where->location().c_str()), 1);
    local_testing::reset_close_wait();
    const auto start = std::chrono::steady_clock::now();
    link_CloseAll();
    const auto waited = std::chrono::steady_clock::now() - start;
    local_testing::set_close_wait(std::chrono::milliseconds(0));
    EXPECT_GE(waited, std::chrono::milliseconds(1'000));
}

}  // namespace
