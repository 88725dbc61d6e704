// The life of links: reopening after a restart or a failure, a full table, closing while an
// exchange is in flight, the local data server's registration, and the pipe's errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "link_fixture.h"
#include "platform/last_error.h"
#include "qvr/link/link_backend.h"
#include "support/child_process.h"

namespace {

using link_test::LinkTest;
using namespace std::chrono_literals;

// Waits until the stand-in has recorded `count` requests (bounded).
bool wait_for_requests(const sim_server::Dispatcher& d, size_t count) {
    for (int i = 0; i < 500 && d.request_count() < count; ++i) std::this_thread::sleep_for(5ms);
    return d.request_count() >= count;
}

TEST_F(LinkTest, RestartedServerBetweenTwoRequestsIsReconnectedByTheSecond) {
    EXPECT_EQ(send(".", "RS"), 0);
    server().front.stop();
    ASSERT_EQ(server().front.start(), 0);
    EXPECT_EQ(send(".", "RS"), 0);
    EXPECT_EQ(platform::last_error(), 0);
    EXPECT_EQ(server().front.connections_accepted(), 2u);
}

TEST_F(LinkTest, TransportFailureClosesTheLinkAndTheNextRequestReopensIt) {
    sim_server::Fault cut;
    cut.kind = sim_server::Fault::Kind::close_after;
    cut.bytes = 6;  // the length prefix and two bytes of "12345678"
    server().dispatcher.script_fault("QS", cut, std::string("12345678"));
    EXPECT_EQ(send(".", "QS"), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorBrokenPipe);
    EXPECT_EQ(trace("<<. Error 109 to QS\r\n").size(), 1u);
    EXPECT_EQ(send(".", "RS"), 0);
    EXPECT_EQ(server().front.connections_accepted(), 2u);
}

TEST_F(LinkTest, BrokenLengthPrefixIsBrokenPipe) {
    sim_server::Fault broken;
    broken.kind = sim_server::Fault::Kind::broken_length;
    broken.bytes = 100;
    server().dispatcher.script_fault("QS", broken, std::string("12"));
    EXPECT_EQ(send(".", "QS"), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorBrokenPipe);
}

TEST_F(LinkTest, SilentServerTimesOutWith10060AndTheLinkIsOpenedAgain) {
    qvr::link_testing::set_timeout(100);
    sim_server::Fault slow;
    slow.kind = sim_server::Fault::Kind::delay;
    slow.milliseconds = 400;
    server().dispatcher.script_fault("QS", slow);
    EXPECT_EQ(send(".", "QS"), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorWsaTimedOut);
    EXPECT_EQ(send(".", "RS"), 0);
    EXPECT_EQ(server().front.connections_accepted(), 2u);
}

TEST_F(LinkTest, ServerThatNeverAcceptsTimesOut) {
    qvr::link_testing::set_timeout(100);
    server().front.set_refuse_accept(true);
    EXPECT_EQ(send(".", "RS"), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorWsaTimedOut);
}

TEST_F(LinkTest, AWaiterWhoseLinkFailedMeanwhileOpensItAgainItself) {
    sim_server::Fault drop;
    drop.kind = sim_server::Fault::Kind::close_at_once;
    drop.milliseconds = 150;
    server().dispatcher.script_fault("QS", drop);
    int first = 0;
    int first_error = 0;
    std::thread a([&] {
        first = send(".", "QS");
        first_error = platform::last_error();
    });
    ASSERT_TRUE(wait_for_requests(server().dispatcher, 1));
    // This caller waits for the entry lock while the first exchange fails and closes the link.
    char reply[32];
    uint32_t length = sizeof reply;
    platform::set_last_error(0);
    const int second = link_SendText(".", "RS", reply, &length);
    a.join();
    EXPECT_EQ(first, -1);
    EXPECT_EQ(first_error, platform::kErrorBrokenPipe);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(platform::last_error(), 0);
}

TEST_F(LinkTest, CloseAllWaitsForAnExchangeInFlightThenTheNextRequestReopens) {
    sim_server::Fault slow;
    slow.kind = sim_server::Fault::Kind::delay;
    slow.milliseconds = 150;
    server().dispatcher.script_fault("QS", slow, std::string("12", 3));
    int result = 0;
    std::thread a([&] {
        char reply[32];
        uint32_t length = sizeof reply;
        result = link_SendText(".", "QS", reply, &length);
    });
    ASSERT_TRUE(wait_for_requests(server().dispatcher, 1));
    link_CloseAll();
    a.join();
    EXPECT_EQ(result, 12);
    EXPECT_EQ(send(".", "RS"), 0);
    EXPECT_EQ(server().front.connections_accepted(), 2u);
}

TEST_F(LinkTest, PipeErrors) {
    // Another machine without a socket of its own.
    EXPECT_EQ(send("plant9", "RS"), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorBadNetPath);
    // A name that cannot be a machine's.
    EXPECT_EQ(send("two words", "RS"), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorBadNetPath);
    // This machine's server not running.
    server().front.stop();
    EXPECT_EQ(send(".", "RS"), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
    EXPECT_TRUE(trace("<<.").empty());  // an open that fails writes no result line
}

TEST_F(LinkTest, AnotherMachinesPipeIsTheSocketOfItsName) {
    link_test::StandIn plant("plant2");
    ASSERT_EQ(plant.front.start(), 0);
    EXPECT_EQ(send("PLANT2", "RS"), 0);
    EXPECT_EQ(plant.dispatcher.request_count(), 1u);
    EXPECT_EQ(server().dispatcher.request_count(), 0u);
    EXPECT_EQ(trace("<<PLANT2 Result 0 to RS\r\n").size(), 1u);
}

TEST_F(LinkTest, UnprivilegedProcessGetsAccessDenied) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to start an unprivileged child";
    auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_settings_helper"),
                                               {"--drop", "link-request", ".", "RS"}, {}, true);
    EXPECT_EQ(child.wait_exit_code(10s), 0);
    EXPECT_EQ(child.read_stdout(1s), "-1 5\n");
}

// A fake local data server: answers "7" to every request and counts its handles.
std::atomic<int> g_local_opens{0};
std::atomic<int> g_local_closes{0};
const LinkLocalBackend kFakeLocal{
    [](const char* location) -> intptr_t {
        ++g_local_opens;
        return std::strlen(location) != 0 ? 1000 + g_local_opens.load() : 0;
    },
    [](intptr_t, const void*, uint32_t, void* reply, uint32_t* length) {
        if (*length < 2) return 0;
        std::memcpy(reply, "7", 2);
        *length = 2;
        return 1;
    },
    [](intptr_t) { ++g_local_closes; }};

TEST_F(LinkTest, LocalDataBeforeAndAfterItsServerIsRegistered) {
    EXPECT_EQ(send("/var/lib/quorvane/run1", "LD,x"), -1);
    EXPECT_EQ(platform::last_error(), kErrorNotSupported);
    EXPECT_EQ(trace(">>/var/lib/quorvane/run1 Local data server not available\r\n").size(), 1u);
    link_SetLocalDataBackend(&kFakeLocal);
    EXPECT_EQ(send("/var/lib/quorvane/run1", "LD,x"), 7);
    EXPECT_EQ(send("PROVIDER=test", "LD,x"), 7);
    ServerConnection* entry = link_GetConnection("/var/lib/quorvane/run1");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->kind, kServerLocalData);
    EXPECT_NE(entry->thread, 0u);
    entry->lock.unlock();
    const int closes = g_local_closes.load();
    link_CloseAll();
    EXPECT_EQ(g_local_closes.load(), closes + 2);
}

TEST_F(LinkTest, SocketAndWebKindsWithoutTheirTransportFailWith50) {
    EXPECT_EQ(send("tcp://127.0.0.2:5000", "RS"), -1);
    EXPECT_EQ(platform::last_error(), kErrorNotSupported);
    EXPECT_EQ(trace(">>tcp://127.0.0.2:5000 Socket transport not available\r\n").size(), 1u);
    EXPECT_EQ(send("http://127.0.0.2/", "RS"), -1);
    EXPECT_EQ(platform::last_error(), kErrorNotSupported);
    EXPECT_EQ(trace(">>http://127.0.0.2/ Web service transport not available\r\n").size(), 1u);
    EXPECT_EQ(link_SetBackend(kServerPipe, nullptr), -1);
}

TEST_F(LinkTest, TheHundredAndFirstServerGetsNoLink) {
    link_SetLocalDataBackend(&kFakeLocal);
    for (int i = 0; i < kLinkTableSize; ++i) {
        const std::string name = "/data/run" + std::to_string(i);
        ASSERT_EQ(send(name.c_str(), "LD"), 7) << i;
    }
    EXPECT_EQ(send("/data/one-too-many", "LD"), -1);
    EXPECT_EQ(platform::last_error(), 4);  // too many open links, never a stale 0
    // Servers that have their entry go on working; a new one, this machine too, gets none.
    EXPECT_EQ(send("/data/run5", "LD"), 7);
    EXPECT_EQ(send(".", "RS"), -1);
    EXPECT_EQ(qvr::link_testing::claimed_entries(), kLinkTableSize);
}

TEST_F(LinkTest, ClosedEntryOfTheSameServerIsReusedNotDuplicated) {
    EXPECT_EQ(send("plant9", "RS"), -1);
    EXPECT_EQ(send("PLANT9", "RS"), -1);
    EXPECT_EQ(qvr::link_testing::claimed_entries(), 1);
    link_test::StandIn plant("plant9");
    ASSERT_EQ(plant.front.start(), 0);
    EXPECT_EQ(send("plant9", "RS"), 0);
    EXPECT_EQ(qvr::link_testing::claimed_entries(), 1);
}

}  // namespace
