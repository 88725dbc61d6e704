// Many threads, many servers: a hung server holds up only its own callers, and the callers
// of one server are served one after another, each getting its own reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link_fixture.h"

namespace {

using link_test::LinkTest;
using link_test::StandIn;
using namespace std::chrono_literals;

TEST_F(LinkTest, EightServersAreServedWhileANinthHangs) {
    std::vector<std::unique_ptr<StandIn>> servers;
    for (int i = 0; i < 8; ++i) {
        servers.push_back(std::make_unique<StandIn>("srv" + std::to_string(i)));
        ASSERT_EQ(servers.back()->front.start(), 0);
    }
    StandIn hung("hung");
    ASSERT_EQ(hung.front.start(), 0);
    hung.front.set_refuse_accept(true);

    // Two callers of the hung server, so one of them waits for the other's entry lock too.
    // The server stays hung until the other callers are done, however long they take; the
    // time-out itself is another test's, here it would only race the other callers.
    std::atomic<int> hung_done{0};
    std::atomic<int> hung_answered{0};
    std::vector<std::thread> hung_callers;
    for (int i = 0; i < 2; ++i)
        hung_callers.emplace_back([&] {
            char reply[32];
            uint32_t length = sizeof reply;
            if (link_SendText("hung", "RS", reply, &length) == 0) ++hung_answered;
            ++hung_done;
        });
    std::this_thread::sleep_for(20ms);  // let them reach the hung server first

    std::atomic<int> good{0};
    std::atomic<int> finished_before_hung{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 8; ++t)
        callers.emplace_back([&, t] {
            const std::string server_name = "srv" + std::to_string(t);
            for (int i = 0; i < 20; ++i) {
                char reply[32];
                uint32_t length = sizeof reply;
                if (link_SendText(server_name.c_str(), "RS", reply, &length) == 0) ++good;
            }
            if (hung_done.load() == 0) ++finished_before_hung;
        });
    for (auto& c : callers) c.join();
    EXPECT_EQ(hung_done.load(), 0);
    hung.front.set_refuse_accept(false);
    for (auto& c : hung_callers) c.join();
    EXPECT_EQ(good.load(), 8 * 20);
    EXPECT_EQ(finished_before_hung.load(), 8);
    EXPECT_EQ(hung_answered.load(), 2);
    EXPECT_EQ(hung.dispatcher.request_count(), 2u);
    for (auto& s : servers) EXPECT_EQ(s->dispatcher.request_count(), 20u);
}

TEST_F(LinkTest, CallersOfOneServerAreSerialisedAndEachGetsItsOwnReply) {
    std::atomic<int> in_flight{0};
    std::atomic<int> most_in_flight{0};
    server().dispatcher.set_handler("EC", [&](std::string_view request, uint32_t) {
        const int now = ++in_flight;
        int seen = most_in_flight.load();
        while (now > seen && !most_in_flight.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(1ms);
        --in_flight;
        return std::string(request.substr(3));  // the text after "EC,", NUL included
    });
    std::atomic<int> mismatches{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 8; ++t)
        callers.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                const std::string tag = "t" + std::to_string(t) + "-" + std::to_string(i);
                char reply[64];
                uint32_t length = sizeof reply;
                const std::string request = "EC," + tag;
                link_SendText(".", request.c_str(), reply, &length);
                if (std::string(reply, length) != tag + '\0') ++mismatches;
            }
        });
    for (auto& c : callers) c.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(most_in_flight.load(), 1);
    EXPECT_EQ(server().dispatcher.request_count(), 200u);
    EXPECT_EQ(server().front.connections_accepted(), 1u);
}

}  // namespace
