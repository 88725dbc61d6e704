// The logged-data client operations: which server kinds they send to, the exact requests,
// what the replies become (outputs zeroed on failure), and the registry of caller buffers
// whose handles the requests carry in place of addresses.
#include <gtest/gtest.h>

#include <atomic>
#include <cinttypes>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "qvr/link/link_backend.h"
#include "qvr/requests/local_buffers.h"
#include "qvr/requests/logged_data_requests.h"
#include "qvr/requests/value_requests.h"
#include "qvr/time/timestamp.h"
#include "requests_fixture.h"

namespace {

using qvr::local_buffers::Registration;
using qvr::local_buffers::resolve;
using requests_test::RequestTest;

// ---- the registry ----

TEST(LocalBuffers, HandlesNameLiveBuffersOnlyAndAreNeverReused) {
    char a[10];
    char b[20];
    std::int64_t ended = 0;
    {
        const Registration ra(a, sizeof a);
        const Registration rb(b, sizeof b);
        EXPECT_NE(ra.handle(), 0);
        EXPECT_NE(ra.handle(), rb.handle());
        ASSERT_TRUE(resolve(ra.handle()));
        EXPECT_EQ(resolve(ra.handle())->address, a);
        EXPECT_EQ(resolve(ra.handle())->capacity, sizeof a);
        EXPECT_EQ(resolve(rb.handle())->capacity, sizeof b);
        ended = ra.handle();
        // The handle is no address: it says nothing about where the buffer lies.
        EXPECT_NE(static_cast<std::uintptr_t>(ra.handle()), reinterpret_cast<std::uintptr_t>(a));
    }
    EXPECT_FALSE(resolve(ended));
    const Registration again(a, sizeof a);
    EXPECT_NE(again.handle(), ended);
    EXPECT_FALSE(resolve(0));
    EXPECT_FALSE(resolve(-1));
    const Registration none(nullptr, 100);
    EXPECT_EQ(none.handle(), 0);
}

// A peer that forwards request text cannot reach another caller's live buffer by counting.
TEST(LocalBuffers, HandlesCannotBeFoundByCountingFromOneSeen) {
    char a[8];
    std::vector<std::unique_ptr<Registration>> live;
    std::set<std::int64_t> steps;
    for (int i = 0; i < 50; ++i) {
        live.push_back(std::make_unique<Registration>(a, sizeof a));
        const std::int64_t h = live.back()->handle();
        EXPECT_FALSE(resolve(h + 1));
        EXPECT_FALSE(resolve(h - 1));
        if (i > 0) steps.insert(h - live[static_cast<std::size_t>(i) - 1]->handle());
    }
    EXPECT_GT(steps.size(), 1u) << "handles follow one another at a fixed step";
}

TEST(LocalBuffers, ThreadsRegisterAndResolveAtOnce) {
    constexpr int kThreads = 6;
    constexpr int kEach = 2000;
    std::mutex mutex;
    std::set<std::int64_t> seen;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    const std::size_t before = qvr::local_buffers::live_count();
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            std::vector<std::int64_t> mine;
            for (int i = 0; i < kEach; ++i) {
                int slot = i;
                const Registration r(&slot, sizeof slot);
                const auto got = resolve(r.handle());
                if (!got || got->address != &slot) ++wrong;
                mine.push_back(r.handle());
            }
            const std::lock_guard lock(mutex);
            seen.insert(mine.begin(), mine.end());
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(qvr::local_buffers::live_count(), before);
}

// ---- requests to other server kinds ----

// A web-service transport that hands every request to a stand-in dispatcher.
sim_server::Dispatcher* g_web = nullptr;
const LinkBackend kWebStandIn{
    [](ServerConnection* entry) {
        entry->handle = 1;
        return 1;
    },
    [](ServerConnection*, const void* request, uint32_t length, void* reply, uint32_t* reply_length) {
        const auto answer =
            g_web->handle(std::string_view(static_cast<const char*>(request), length), "web", *reply_length);
        const auto n = static_cast<uint32_t>(std::min<std::size_t>(answer.reply.size(), *reply_length));
        std::memcpy(reply, answer.reply.data(), n);
        *reply_length = n;
        return 1;
    },
    [](ServerConnection*) {}, 1};

class LoggedDataRequests : public RequestTest {
  protected:
    void SetUp() override {
        RequestTest::SetUp();
        g_web = &web_;
        ASSERT_EQ(link_SetBackend(kServerWeb, &kWebStandIn), 0);
    }
    void TearDown() override {
        link_SetBackend(kServerWeb, nullptr);
        link_SetLocalDataBackend(nullptr);
        g_web = nullptr;
        RequestTest::TearDown();
    }
    std::size_t sent_count() { return server().sent().size() + web_.request_count(); }
    sim_server::Dispatcher web_;
};

constexpr const char* kWeb = "http://127.0.0.2/quorvane";

TEST_F(LoggedDataRequests, KindThreeRequestsAreRefusedForOtherKindsWithoutSending) {
    char buffer[64];
    TimeStamp start{}, end{};
    std::uint8_t heads[32], values[64], runs[40];
    for (const char* server : {".", kWeb}) {
        const std::vector<std::pair<const char*, std::function<std::int64_t()>>> calls = {
            {"FS", [&] { return ldc_RequestFS(nullptr, server); }},
            {"NS", [&] { return ldc_RequestNS(nullptr, server); }},
            {"WS", [&] { return ldc_RequestWS(nullptr, server); }},
            {"PS", [&] { return ldc_RequestPS(nullptr, server); }},
            {"MS", [&] { return ldc_RequestMS(nullptr, server, 3); }},
            {"IS", [&] { return ldc_GetStartTime(nullptr, server); }},
            {"NS count", [&] { return ldc_CountRecords(nullptr, server, nullptr); }},
            {"6S",
             [&] {
                 int length = sizeof buffer;
                 return ldc_GetSectionText(nullptr, server, "TEXT", buffer, &length);
             }},
            {"7S",
             [&] {
                 std::uint32_t records = 9, entries = 9;
                 int last = 9;
                 start = {5, 5, 5};
                 const int rc = ldc_ReadRecordRange(nullptr, server, 1, &start, 1, &end, "AI,1", 2, heads,
                                                    values, runs, 2, &records, &entries, &last);
                 EXPECT_EQ(
                     records + entries + static_cast<unsigned>(last) + static_cast<unsigned>(start.seconds),
                     0u);
                 return rc;
             }},
            {"8S",
             [&] {
                 std::uint32_t records = 9, entries = 9;
                 int last = 9;
                 return ldc_ReadRecordRangeEx(nullptr, server, 1, &start, 1, &end, "AI,1", 2, heads, values,
                                              runs, 2, sizeof values, &records, &entries, &last);
             }},
        };
        for (const auto& [what, call] : calls) {
            platform::set_last_error(0);
            EXPECT_EQ(call(), -1) << what << " to " << server;
            EXPECT_EQ(platform::last_error(), kErrorNotSupported) << what;
        }
        EXPECT_EQ(ldc_IsLocalData(nullptr, server), -1);
    }
    EXPECT_EQ(sent_count(), 0u);
    EXPECT_EQ(ldc_IsLocalData(nullptr, "/var/lib/quorvane/LOGGED_DATA/L1"), 0);
    EXPECT_EQ(ldc_IsLocalData(nullptr, "PROVIDER=SQLite;Data Source=x"), 0);
}

TEST_F(LoggedDataRequests, SummaryIsSentOverAnyKindAndItsNumbersRead) {
    web_.script_reply("5S", std::string("1,100,200,300,4,1", 18));
    std::uint32_t start = 10, end = 20, count = 9, size = 9;
    int last = 9;
    EXPECT_EQ(ldc_GetSummary(nullptr, kWeb, 1, &start, 3, &end, &count, &size, &last), 1);
    EXPECT_EQ(web_.requests().at(0).bytes, std::string("5S,1,10,3,20", 13));
    EXPECT_EQ(web_.requests().at(0).capacity, 200u);
    EXPECT_EQ((std::vector<std::uint32_t>{start, end, count, size}),
              (std::vector<std::uint32_t>{100, 200, 300, 4}));
    EXPECT_EQ(last, 1);

    // A failure, and a reply whose numbers cannot be read, leave every output 0.
    server().dispatcher().script_reply("5S", std::string("-1,5", 5));
    start = 10;
    EXPECT_EQ(ldc_GetSummary(nullptr, ".", 0, &start, 1, &end, &count, &size, &last), -1);
    EXPECT_EQ(platform::last_error(), 5);
    EXPECT_EQ(start + end + count + size + static_cast<unsigned>(last), 0u);
    for (const char* reply : {"1,1,2,3", "1,1,2,x,4,0", "1,-1,2,3,4,0", "1,4294967296,2,3,4,0"}) {
        web_.script_reply("5S", std::string(reply, std::strlen(reply) + 1));
        start = 10;
        EXPECT_EQ(ldc_GetSummary(nullptr, kWeb, 0, &start, 1, &end, &count, &size, &last), -1) << reply;
        EXPECT_EQ(start + end + count + size + static_cast<unsigned>(last), 0u) << reply;
    }
    EXPECT_EQ(server().sent().size(), 1u);
}

TEST_F(LoggedDataRequests, GeneralRequestsAreForwardedWithoutTheContext) {
    const std::size_t before = server().sent().size();
    EXPECT_EQ(ldc_RequestDS(nullptr, "."), RequestDS("."));
    char reply[kValueReplySize];
    ldc_RequestCurrentValue(nullptr, ".", "AI,1", reply);
    ldc_RequestRV(nullptr, ".", "AI,1", reply);
    ldc_SetChannelValue(nullptr, ".", "AI1", 1.5);
    const auto sent = server().sent();
    ASSERT_EQ(sent.size(), before + 5);
    EXPECT_EQ(sent[before].substr(0, 3), "DS,");
    EXPECT_EQ(sent[before + 2].substr(0, 7), "CV,AI,1");
    EXPECT_EQ(sent[before + 3].substr(0, 7), "RV,AI,1");
    EXPECT_EQ(sent[before + 4].substr(0, 7), "FV,AI1,");
}

// ---- over a kind-3 link, answered by a stand-in handler ----

// The stand-in local data server: records each request and answers through `g_answer`.
std::function<std::string(std::string_view)> g_answer;
std::vector<std::string> g_local_requests;
const LinkLocalBackend kLocalStandIn{
    [](const char*) -> intptr_t { return 1; },
    [](intptr_t, const void* request, uint32_t length, void* reply, uint32_t* reply_length) {
        std::string_view text(static_cast<const char*>(request), length);
        text = text.substr(0, text.find('\0'));
        g_local_requests.emplace_back(text);
        const std::string answer = g_answer(text) + std::string(1, '\0');
        if (answer.size() > *reply_length) return 0;
        std::memcpy(reply, answer.data(), answer.size());
        *reply_length = static_cast<uint32_t>(answer.size());
        return 1;
    },
    [](intptr_t) {}};

constexpr const char* kFolder = "/var/lib/quorvane/LOGGED_DATA/L1";

class LocalLink : public LoggedDataRequests {
  protected:
    void SetUp() override {
        LoggedDataRequests::SetUp();
        g_local_requests.clear();
        link_SetLocalDataBackend(&kLocalStandIn);
    }
    void TearDown() override {
        LoggedDataRequests::TearDown();
        g_answer = nullptr;
    }
};

std::vector<std::string> fields_of(std::string_view text) {
    std::vector<std::string> out;
    while (true) {
        const std::size_t comma = text.find(',');
        out.emplace_back(text.substr(0, comma));
        if (comma == std::string_view::npos) return out;
        text.remove_prefix(comma + 1);
    }
}

TEST_F(LocalLink, FlagsCountsAndStartTimeFromTheirReplies) {
    g_answer = [](std::string_view request) -> std::string {
        if (request == "IS") return "1,1700000000";
        if (request == "NS") return "1,12345,6";
        if (request == "FS") return "-1,50";
        return "0";
    };
    EXPECT_EQ(ldc_GetStartTime(nullptr, kFolder), 1700000000);
    int second = 0;
    EXPECT_EQ(ldc_CountRecords(nullptr, kFolder, &second), 12345);
    EXPECT_EQ(second, 6);
    EXPECT_EQ(ldc_CountRecords(nullptr, kFolder, nullptr), 12345);
    EXPECT_EQ(ldc_RequestFS(nullptr, kFolder), 0);
    EXPECT_EQ(ldc_RequestWS(nullptr, kFolder), 1);
    EXPECT_EQ(ldc_RequestMS(nullptr, kFolder, 7), 1);
    EXPECT_EQ(g_local_requests, (std::vector<std::string>{"IS", "NS", "NS", "FS", "WS", "MS,7"}));
    g_answer = [](std::string_view) -> std::string { return "-1,2"; };
    EXPECT_EQ(ldc_GetStartTime(nullptr, kFolder), 0);
    second = 5;
    EXPECT_EQ(ldc_CountRecords(nullptr, kFolder, &second), 0);
    EXPECT_EQ(second, 0);
}

TEST_F(LocalLink, SectionTextNamesItsBufferByAHandleLiveForTheRequestOnly) {
    char buffer[32];
    std::int64_t handle = 0;
    g_answer = [&](std::string_view request) -> std::string {
        const auto f = fields_of(request);
        EXPECT_EQ(f.size(), 4u);
        handle = std::stoll(f[2]);
        const auto b = resolve(handle);
        EXPECT_TRUE(b);
        if (!b) return "-1,87";
        EXPECT_EQ(b->address, buffer);
        EXPECT_EQ(b->capacity, std::stoul(f[3]));
        std::memcpy(b->address, "abc\r\n", 6);
        return "1,5";
    };
    int length = sizeof buffer;
    EXPECT_EQ(ldc_GetSectionText(nullptr, kFolder, "TEXT", buffer, &length), 1);
    EXPECT_EQ(length, 5);
    EXPECT_STREQ(buffer, "abc\r\n");
    EXPECT_EQ(g_local_requests.at(0), "6S,TEXT," + std::to_string(handle) + ",32");
    EXPECT_FALSE(resolve(handle)) << "ended with the request";
    // A count beyond the buffer, a failure: length 0.
    g_answer = [](std::string_view) -> std::string { return "1,33"; };
    length = sizeof buffer;
    EXPECT_EQ(ldc_GetSectionText(nullptr, kFolder, "TEXT", buffer, &length), -1);
    EXPECT_EQ(length, 0);
    g_answer = [](std::string_view) -> std::string { return "-1,0"; };
    length = sizeof buffer;
    EXPECT_EQ(ldc_GetSectionText(nullptr, kFolder, "TEXT", buffer, &length), -1);
    EXPECT_EQ(length, 0);
    // A section name that would shift the fields is refused before sending.
    const std::size_t sent = g_local_requests.size();
    length = sizeof buffer;
    EXPECT_EQ(ldc_GetSectionText(nullptr, kFolder, "TEXT,1", buffer, &length), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    EXPECT_EQ(g_local_requests.size(), sent);
}

// The value buffer of "7S" is registered with record capacity x selected channels x 8 bytes,
// the channels counted by the handler's own list rule; "8S" registers the caller's byte count.
TEST_F(LocalLink, RangeRequestsRegisterEveryBufferWithItsCapacity) {
    struct Case {
        const char* list;
        std::size_t channels;
    } cases[] = {{"AI,1,2,DI,3", 3}, {"AI,1,0,2,DI,3", 2}, {"", 0}, {"7,AI,1,AI,1", 2}, {"AI,1,100000,5", 1}};
    for (const Case& c : cases) {
        for (const bool ex : {false, true}) {
            std::vector<std::uint8_t> heads(5 * 16), values(5 * 8 * 3 + 3), runs(3 * 20);
            std::vector<std::string> f;
            std::vector<std::optional<qvr::local_buffers::Buffer>> resolved;
            g_answer = [&](std::string_view request) -> std::string {
                f = fields_of(request);
                for (const std::size_t i : {2u, 4u, 5u, 7u, 8u, 9u})
                    resolved.push_back(resolve(std::stoll(f.at(i))));
                // The handler reads the caller's stamps as given, and writes the start back.
                TimeStamp given{};
                std::memcpy(&given, resolved[1]->address, sizeof given);
                EXPECT_EQ(given.seconds, 1700000100);
                TimeStamp t{1700000001, 2, 3};
                std::memcpy(resolved[0]->address, &t, sizeof t);
                return "1,4,2,1";
            };
            TimeStamp start{1700000000, 0, 0}, end{1700000100, 0, 0};
            std::uint32_t records = 0, entries = 0;
            int last = 0;
            const int rc =
                ex ? ldc_ReadRecordRangeEx(
                         nullptr, kFolder, 0, &start, 1, &end, c.list, 5, heads.data(), values.data(),
                         runs.data(), 3, static_cast<std::int64_t>(values.size()), &records, &entries, &last)
                   : ldc_ReadRecordRange(nullptr, kFolder, 0, &start, 1, &end, c.list, 5, heads.data(),
                                         values.data(), runs.data(), 3, &records, &entries, &last);
            ASSERT_EQ(rc, 1) << c.list;
            EXPECT_EQ(f.size(), ex ? 12u : 11u);
            EXPECT_EQ(f[0], ex ? "8S" : "7S");
            EXPECT_EQ(f[1], "0");
            EXPECT_EQ(f[3], "1");
            EXPECT_EQ(f[6], "5");
            EXPECT_EQ(f[10], "3");
            if (ex) {
                EXPECT_EQ(f[11], std::to_string(values.size()));
            }
            ASSERT_EQ(resolved.size(), 6u);
            for (const auto& r : resolved) ASSERT_TRUE(r) << c.list;
            EXPECT_EQ(resolved[0]->capacity, sizeof(TimeStamp));
            EXPECT_EQ(resolved[1]->capacity, sizeof(TimeStamp));
            EXPECT_STREQ(static_cast<const char*>(resolved[2]->address), c.list);
            EXPECT_EQ(resolved[3]->address, heads.data());
            EXPECT_EQ(resolved[3]->capacity, 5u * 16);
            EXPECT_EQ(resolved[4]->address, values.data());
            EXPECT_EQ(resolved[4]->capacity, ex ? values.size() : 5u * c.channels * 8) << c.list;
            EXPECT_EQ(resolved[5]->capacity, 3u * 20);
            // The written-back start reaches the caller; the counts are the reply's.
            EXPECT_EQ(start.seconds, 1700000001);
            EXPECT_EQ(start.microseconds, 3);
            EXPECT_EQ(records, 4u);
            EXPECT_EQ(entries, 2u);
            EXPECT_EQ(last, 1);
            EXPECT_EQ(qvr::local_buffers::live_count(), 0u);
        }
    }
}

TEST_F(LocalLink, FailedRangesZeroTheOutputsAndBadArgumentsSendNothing) {
    std::uint8_t heads[16], values[16], runs[20];
    for (const char* reply : {"-1,87", "1,2", "1,x,1,0", "1,-2,1,0"}) {
        g_answer = [&](std::string_view) -> std::string { return reply; };
        TimeStamp start{5, 5, 5}, end{6, 6, 6};
        std::uint32_t records = 9, entries = 9;
        int last = 9;
        EXPECT_EQ(ldc_ReadRecordRange(nullptr, kFolder, 1, &start, 1, &end, "AI,1", 1, heads, values, runs, 1,
                                      &records, &entries, &last),
                  -1)
            << reply;
        EXPECT_EQ(start.seconds + start.milliseconds + end.seconds + end.microseconds, 0) << reply;
        EXPECT_EQ(records + entries + static_cast<unsigned>(last), 0u) << reply;
    }
    const std::size_t sent = g_local_requests.size();
    TimeStamp start{}, end{};
    std::uint32_t records = 0, entries = 0;
    int last = 0;
    EXPECT_EQ(ldc_ReadRecordRange(nullptr, kFolder, 1, nullptr, 1, &end, "AI,1", 1, heads, values, runs, 1,
                                  &records, &entries, &last),
              -1);
    EXPECT_EQ(ldc_ReadRecordRange(nullptr, kFolder, 1, &start, 1, &end, "AI,1", 1, heads, values, runs, -1,
                                  &records, &entries, &last),
              -1);
    EXPECT_EQ(ldc_ReadRecordRangeEx(nullptr, kFolder, 1, &start, 1, &end, "AI,1", -1, heads, values, runs, 1,
                                    16, &records, &entries, &last),
              -1);
    EXPECT_EQ(ldc_ReadRecordRangeEx(nullptr, kFolder, 1, &start, 1, &end, "AI,1", 1, heads, values, runs, 1,
                                    -16, &records, &entries, &last),
              -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    EXPECT_EQ(g_local_requests.size(), sent);
}

}  // namespace
