// The answers by request code, over a folder of run files, a SQLite and a MySQL location
// written by the stand-in logger: texts, golden binary CV/RV/TC answers built from the values
// the logger is known to have written, and replies bounded by the caller's capacity.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "host/runtime_host.h"
#include "local_server/local_fixtures.h"
#include "log_stores/local_server/local_backend.h"
#include "log_stores/local_server/local_data_server.h"
#include "log_stores/run_file/run_file_format.h"
#include "logger/logged_values.h"
#include "logger/stand_in_logger.h"
#include "platform/last_error.h"
#include "platform/time_zone.h"
#include "qvr/link/link.h"
#include "qvr/records/channel_record.h"
#include "qvr/requests/value_requests.h"

namespace {

using local_server_test::DataLocation;
using local_server_test::Kind;
using log_stores::local::LocalDataServer;
namespace fx = local_server_test;

constexpr std::uint32_t kCapacity = 32'768;
// The logging run's newest record: the one live values come from.
constexpr std::int64_t kLatest = fx::kLoggingRecords - 1;

struct Reply {
    int result = 0;
    std::string bytes;  // *replyLength bytes
    std::string text() const { return std::string(bytes.c_str()); }
};

Reply ask(LocalDataServer& server, std::string_view request, std::uint32_t capacity = kCapacity) {
    std::vector<char> buffer(capacity + 16, '\x5A');
    std::uint32_t length = capacity;
    Reply r;
    r.result = server.HandleRequest(request.data(), static_cast<std::uint32_t>(request.size()), buffer.data(),
                                    &length);
    EXPECT_LE(length, capacity) << request;
    for (std::size_t i = capacity; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], '\x5A') << "written past the capacity at " << i << " for " << request;
    r.bytes.assign(buffer.data(), std::min(length, capacity));
    return r;
}

// Little-endian pieces of an expected answer.
struct Golden {
    std::string bytes = "1,";
    void i32(std::int32_t v) { bytes.append(reinterpret_cast<const char*>(&v), 4); }
    void i16(std::int16_t v) { bytes.append(reinterpret_cast<const char*>(&v), 2); }
    void u16(std::uint16_t v) { bytes.append(reinterpret_cast<const char*>(&v), 2); }
    void u32(std::uint32_t v) { bytes.append(reinterpret_cast<const char*>(&v), 4); }
    void time(const TimeStamp& t) {
        i32(t.seconds);
        i16(t.milliseconds);
    }
    void sample(std::uint32_t flags, float value) {
        flags &= ~0x40u;
        u32(flags);
        if ((flags & 0x80u) != 0 && (flags & 0x20u) == 0) {
            std::uint32_t bits;
            std::memcpy(&bits, &value, 4);
            u32(bits);
        }
    }
    // The fixture's block k, channel index j, in the latest record. A database keeps a
    // digital channel as the number of its flag bit 0x01, which comes back as a value.
    void logged(std::size_t block, std::uint32_t j, bool database) {
        const auto s = sim_logger::sample_of(block, j, kLatest, block == 2);
        if (database && block == 2)
            sample(0x80, (s.flags & 0x01) != 0 ? 1.0f : 0.0f);
        else
            sample(static_cast<std::uint32_t>(s.flags), s.value);
    }
};

TimeStamp latest_time() {
    return sim_logger::record_time(fx::kLoggingStart, kLatest, fx::kPeriodMs);
}

class LocalAnswersTest : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        if (const std::string why = fx::unavailable_reason(GetParam()); !why.empty()) GTEST_SKIP() << why;
        where_ = DataLocation::make(GetParam());
        ASSERT_NE(where_, nullptr);
        ASSERT_EQ(server_.Open(where_->location().c_str()), 0) << platform::last_error();
    }
    bool database() const { return GetParam() != Kind::kFolder; }

    std::unique_ptr<DataLocation> where_;
    LocalDataServer server_;
};

struct TextCase {
    const char* request;
    const char* reply;
};

TEST_P(LocalAnswersTest, TextAnswersByCode) {
    const std::string is = "1," + std::to_string(fx::kFinishedStart);
    const std::string ns = "1," + std::to_string(fx::kFinishedRecords + fx::kLoggingRecords) + ",2";
    const std::vector<TextCase> cases = {
        {"QE", "0"},
        {"qe", "0"},
        {"QP", "3"},
        {"IP,*,2", "1,USERAA,AI CHANNELS,AI:8,0,A;USERAB,DI CHANNELS,DI:4,0,D;"},
        {"IP,*,1", "1,USERAA,AI CHANNELS,AI:8,0,A;"},
        {"IP,*,3",
         "1,USERAA,AI CHANNELS,AI:8,0,A;USERAB,DI CHANNELS,DI:4,0,D;logst,LOGGER STATUS CHANNELS,LS:56,0,A;"},
        {"IP,*,0", "0,"},
        {"IP,*,x", "-1,87"},
        {"IP,*,99999999999999999999999", "-1,87"},
        {"IP,logst", "1,logst,LOGGER STATUS CHANNELS,LS:56,0,A;"},
        {"ip,userab", "1,USERAB,DI CHANNELS,DI:4,0,D;"},
        {"IP,USERAC", "0,"},
        {"IP,", "0,"},
        {"TP,*,2", "1,1,1,USERAA,AI CHANNELS,AI:8,0,A;1,1,USERAB,DI CHANNELS,DI:4,0,D;"},
        {"TP,LOGST", "1,1,1,logst,LOGGER STATUS CHANNELS,LS:56,0,A;"},
        {"ES", "1"},
        {"DS", "0"},
        {"WS", "-1,50"},
        {"PS", "-1,50"},
        {"FS", "-1,50"},
        {"XS", "-1,50"},
        {"MS,12", "-1,50"},
        {"ms", "-1,50"},
        {"IS", is.c_str()},
        {"NS", ns.c_str()},
        {"ZZ", "0"},
        {"", "0"},
        {"CV", "0"},
        {"CV,", "0"},
        {"RV,", "0"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.request);
        const Reply r = ask(server_, c.request);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.text(), c.reply);
        EXPECT_EQ(r.bytes.size(), std::strlen(c.reply) + 1) << "the length counts the NUL";
    }
}

TEST_P(LocalAnswersTest, TimeAnswerCarriesTheZoneRecord) {
    const Reply r = ask(server_, "TS");
    ASSERT_EQ(r.result, 1);
    const TimeStamp t = latest_time();
    const std::string text = std::to_string(t.seconds) + "," + std::to_string(t.milliseconds);
    EXPECT_EQ(r.text(), text);
    ASSERT_EQ(r.bytes.size(), text.size() + 1 + platform::kTimeZoneInformationSize);
    // A run file keeps its zone; a database only a bias, so this machine's zone is given.
    const platform::TimeZoneInformation zone =
        database() ? platform::local_time_zone_information() : platform::time_zone_information_for("UTC");
    EXPECT_EQ(std::memcmp(r.bytes.data() + text.size() + 1, zone.data(), zone.size()), 0);
}

TEST_P(LocalAnswersTest, RunStateFollowsTheLoggingRun) {
    EXPECT_EQ(ask(server_, "RS").text(), "1");
    EXPECT_EQ(ask(server_, "bs").text(), "1");
}

TEST_P(LocalAnswersTest, ConfigurationsAsGoldenBytes) {
    const auto blocks = fx::fixture_blocks();
    // AI 3 and AI 6 lie in two blocks; AI 9 and DI 7 exist nowhere; 0 ends the AI group, so
    // AI 4 after it is not answered; LS 1 and 56 are status channels, LS 57 is none.
    const Reply r = ask(server_, "CV,AI,3,6,9,0,4,DI,2,7,LS,1,56,57,XX,1");
    ASSERT_EQ(r.result, 1);
    // Outputs travel as the inputs they are logged as (the status channels are outputs).
    const auto as_input = [](qvr::ChannelRecord record) {
        if (record.bytes[24] == 3) record.bytes[24] = 1;
        if (record.bytes[24] == 2) record.bytes[24] = 0;
        return record;
    };
    const qvr::ChannelRecord ls1 = as_input(server_.status_configs_[0]);
    const qvr::ChannelRecord ls56 = as_input(server_.status_configs_[55]);
    const auto expect_record = [&](std::string_view got, const qvr::ChannelRecord* want, const char* what) {
        SCOPED_TRACE(what);
        ASSERT_EQ(got.size(), qvr::kChannelRecordSize);
        qvr::ChannelRecord record{};
        std::memcpy(record.bytes, got.data(), got.size());
        if (want == nullptr) {
            EXPECT_EQ(record, qvr::ChannelRecord{});
            return;
        }
        if (!database()) {
            EXPECT_EQ(record, *want);  // the run file keeps the whole record
            return;
        }
        EXPECT_EQ(qvr::join_text(record, qvr::ChannelText::Tag),
                  qvr::join_text(*want, qvr::ChannelText::Tag));
        EXPECT_EQ(qvr::join_text(record, qvr::ChannelText::Description),
                  qvr::join_text(*want, qvr::ChannelText::Description));
        EXPECT_EQ(record.head.Type, want->head.Type);
    };
    std::string_view rest(r.bytes);
    ASSERT_TRUE(rest.starts_with("1,"));
    rest.remove_prefix(2);
    const auto take = [&](std::size_t n) {
        const std::string_view piece = rest.substr(0, n);
        rest.remove_prefix(std::min(n, rest.size()));
        return piece;
    };
    Golden time;
    time.bytes.clear();
    time.time(latest_time());
    EXPECT_EQ(take(6), time.bytes) << "AI time";
    expect_record(take(216), &blocks[0].channels[2], "AI 3");
    expect_record(take(216), &blocks[1].channels[1], "AI 6");
    expect_record(take(216), nullptr, "AI 9");
    EXPECT_EQ(take(6), time.bytes) << "DI time";
    expect_record(take(216), &blocks[2].channels[1], "DI 2");
    expect_record(take(216), nullptr, "DI 7");
    EXPECT_EQ(take(6), time.bytes) << "LS time";
    expect_record(take(216), &ls1, "LS 1");
    ASSERT_EQ(server_.status_configs_[0].bytes[24], 3) << "LS 1 is kept as an output channel";
    expect_record(take(216), &ls56, "LS 56");
    expect_record(take(216), nullptr, "LS 57");
    EXPECT_EQ(take(6), std::string(6, '\0')) << "a prefix nobody has: zero time";
    expect_record(take(216), nullptr, "XX 1");
    EXPECT_TRUE(rest.empty()) << rest.size() << " bytes too many";
}

TEST_P(LocalAnswersTest, ValuesAsGoldenBytes) {
    const Reply r = ask(server_, "RV,AI,1,2,6,9,DI,2,3,ls,1,16,56");
    ASSERT_EQ(r.result, 1);
    Golden g;
    g.time(latest_time());
    g.logged(0, 0, database());
    g.logged(0, 1, database());
    g.logged(1, 1, database());
    g.sample(0x20, 0);  // AI 9: no such channel
    g.time(latest_time());
    g.logged(2, 1, database());
    g.logged(2, 2, database());
    g.time(latest_time());
    for (int n : {1, 16, 56}) {
        float value;
        std::memcpy(&value, &server_.status_values_[n - 1], 4);
        g.sample(server_.status_flags_[n - 1], value);
    }
    EXPECT_EQ(r.bytes, g.bytes);
    // The digital and analog flags of the fixture's samples are what travels.
    EXPECT_NE(g.bytes.find('\x80'), std::string::npos);
}

TEST_P(LocalAnswersTest, TagsAsGoldenBytes) {
    const Reply r = ask(server_, "TC,AI3,di4,AI5,NOPE,,AI1234567890123456");
    ASSERT_EQ(r.result, 1);
    Golden g;
    const auto key = [&](const char* prefix, std::uint16_t n) {
        g.bytes.append(prefix, 2);
        g.u16(n);
    };
    key("AI", 3);
    key("DI", 4);
    key("AI", 5);
    for (int i = 0; i < 3; ++i) key("\0\0", 0);
    EXPECT_EQ(r.bytes, g.bytes);
}

TEST_P(LocalAnswersTest, ReplyThatDoesNotFitIsInsufficientBuffer) {
    std::string list = "AI";
    for (int i = 0; i < 200; ++i) list += ",1";
    const Reply full = ask(server_, "CV," + list);
    EXPECT_EQ(full.result, 1);
    EXPECT_EQ(full.text(), "-1,122");
    EXPECT_EQ(full.bytes.size(), 7u);

    // At the edge: a reply that fits exactly is given whole; one byte less is refused.
    const std::string three = "CV,AI,1,2,3";
    const std::uint32_t size = 2 + 6 + 3 * 216;
    EXPECT_EQ(ask(server_, three, size).bytes.size(), size);
    EXPECT_EQ(ask(server_, three, size - 1).text(), "-1,122");
    EXPECT_EQ(ask(server_, "IP,*,3", 20).text(), "-1,122");
    EXPECT_EQ(ask(server_, "TS", 30).text(), "-1,122");
    EXPECT_EQ(ask(server_, "RV,AI,1,2,3", 12).text(), "-1,122");
    // Too small even for the failure: no reply.
    const Reply none = ask(server_, "QP", 1);
    EXPECT_EQ(none.result, 0);
    EXPECT_EQ(none.bytes.size(), 0u);
    EXPECT_EQ(ask(server_, three, 6).result, 0);
    EXPECT_EQ(platform::last_error(), platform::kErrorInsufficientBuffer);
}

TEST_P(LocalAnswersTest, RequestLengthBoundsTheText) {
    // The length, not a NUL, ends the request.
    const std::string text = "QPXXXX";
    std::vector<char> reply(64);
    std::uint32_t length = 64;
    ASSERT_EQ(server_.HandleRequest(text.data(), 2, reply.data(), &length), 1);
    EXPECT_STREQ(reply.data(), "3");
    length = 0;
    EXPECT_EQ(server_.HandleRequest("QP", 2, nullptr, &length), 0);
    EXPECT_EQ(server_.HandleRequest("QP", 2, reply.data(), nullptr), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LocalAnswersTest,
                         ::testing::Values(Kind::kFolder, Kind::kSqlite, Kind::kMySql),
                         [](const ::testing::TestParamInfo<Kind>& p) {
                             return std::string(fx::kind_name(p.param));
                         });

// A _FAST_LOG location answers from its sibling's run (the second collection) and takes the
// prefixes only the other run holds from there while their latest records are close in time.
TEST_P(LocalAnswersTest, ValuesOfTheOtherRunOnlyWhileClose) {
    struct Case {
        const char* name;
        std::int32_t sibling_start;
        bool from_other;
    };
    const std::vector<Case> cases = {
        {"latest records the same second", fx::kLoggingStart, true},
        {"179 s apart", fx::kLoggingStart + 179, true},
        {"180 s apart", fx::kLoggingStart + 180, false},
        {"an hour before", fx::kLoggingStart - 3'600, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fx::LocationOptions options;
        options.logger = "KILN_FAST_LOG";
        auto where = DataLocation::make(GetParam(), options);
        ASSERT_NE(where, nullptr);
        sim_logger::LoggerOptions o;
        o.location = database() ? where->connection() : where->location_of("KILN");
        if (!database()) std::filesystem::create_directories(o.location);
        o.logger = "KILN";
        o.prefix = fx::run_prefix_of("KILN");
        o.blocks = {{"ZZ", 1, 2, false, {sim_host::analog_input("ZZ1"), sim_host::analog_input("ZZ2")}}};
        sim_logger::StandInLogger sibling;
        ASSERT_EQ(sibling.open(o), 0) << platform::last_error();
        ASSERT_EQ(sibling.start_run(c.sibling_start), 0) << platform::last_error();
        ASSERT_EQ(sibling.append(fx::kLoggingRecords, 10), 0);

        LocalDataServer server;
        ASSERT_EQ(server.Open(where->location().c_str()), 0) << platform::last_error();
        ASSERT_TRUE(server.collections_[1].has_value()) << "the sibling is the second collection";
        const Reply r = ask(server, "RV,ZZ,2,AI,1");
        ASSERT_EQ(r.result, 1);
        Golden g;
        const TimeStamp sibling_latest = sim_logger::record_time(c.sibling_start, kLatest, fx::kPeriodMs);
        g.time(sibling_latest);
        const auto zz = sim_logger::sample_of(0, 1, kLatest, false);
        g.sample(static_cast<std::uint32_t>(zz.flags), zz.value);
        if (c.from_other) {
            g.time(latest_time());
            g.logged(0, 0, database());
        } else {
            g.time(TimeStamp{});
            g.sample(0x20, 0);
        }
        EXPECT_EQ(r.bytes, g.bytes);
        // Configurations come from whichever run holds the channel.
        const Reply cv = ask(server, "CV,AI,1");
        ASSERT_EQ(cv.bytes.size(), 2u + 6 + 216);
        qvr::ChannelRecord record{};
        std::memcpy(record.bytes, cv.bytes.data() + 8, 216);
        EXPECT_EQ(qvr::join_text(record, qvr::ChannelText::Tag), "AI1");
    }
}

// The same answers reach a caller of the value requests over the kind-3 link; one that does
// not fit the requests' 32,768-byte reply fails there with the reason.
class LocalAnswersOverLinkTest : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        if (const std::string why = fx::unavailable_reason(GetParam()); !why.empty()) GTEST_SKIP() << why;
        log_stores::RegisterLocalDataServer();
        where_ = DataLocation::make(GetParam());
        ASSERT_NE(where_, nullptr);
        ASSERT_EQ(link_Open(where_->location().c_str()), 1) << platform::last_error();
    }
    void TearDown() override { link_CloseAll(); }
    std::unique_ptr<DataLocation> where_;
};

TEST_P(LocalAnswersOverLinkTest, ValueRequestsAreAnsweredAndBounded) {
    const char* server = where_->location().c_str();
    std::vector<char> reply(kValueReplySize);
    ASSERT_NE(RequestRV(server, "AI,1", reply.data()), -1) << platform::last_error();
    Golden g;
    g.time(latest_time());
    g.logged(0, 0, GetParam() != Kind::kFolder);
    EXPECT_EQ(std::string(reply.data(), g.bytes.size()), g.bytes);

    std::string list = "AI";
    for (int i = 0; i < 200; ++i) list += ",1";
    EXPECT_EQ(RequestCurrentValue(server, list.c_str(), reply.data()), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInsufficientBuffer);

    const char* tags[] = {"DI2", "AI7"};
    std::uint8_t keys[8] = {};
    ASSERT_NE(RequestTagChannels(server, tags, 2, keys), -1);
    const std::uint8_t want[8] = {'D', 'I', 2, 0, 'A', 'I', 7, 0};
    EXPECT_EQ(std::memcmp(keys, want, 8), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LocalAnswersOverLinkTest,
                         ::testing::Values(Kind::kFolder, Kind::kSqlite, Kind::kMySql),
                         [](const ::testing::TestParamInfo<Kind>& p) {
                             return std::string(fx::kind_name(p.param));
                         });

class LocalAnswersWithoutRunsTest : public LocalAnswersTest {
  protected:
    void SetUp() override {
        if (const std::string why = fx::unavailable_reason(GetParam()); !why.empty()) GTEST_SKIP() << why;
        fx::LocationOptions options;
        options.finished_run = false;
        options.logging_run = false;
        where_ = DataLocation::make(GetParam(), options);
        ASSERT_NE(where_, nullptr);
        ASSERT_EQ(server_.Open(where_->location().c_str()), 0) << platform::last_error();
    }
};

TEST_P(LocalAnswersWithoutRunsTest, AnswersWhatNeedsNoRun) {
    const std::vector<TextCase> cases = {
        {"TS", "-1,0"}, {"QP", "1"},     {"IP,*,4", "1,logst,LOGGER STATUS CHANNELS,LS:56,0,A;"},
        {"RS", "0"},    {"NS", "1,0,0"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.request);
        EXPECT_EQ(ask(server_, c.request).text(), c.reply);
    }
    EXPECT_TRUE(ask(server_, "IS").text().starts_with("-1,"));
    // No readable record: no reply at all.
    const Reply rv = ask(server_, "RV,AI,1");
    EXPECT_EQ(rv.result, 0);
    EXPECT_EQ(rv.bytes.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LocalAnswersWithoutRunsTest,
                         ::testing::Values(Kind::kFolder, Kind::kSqlite, Kind::kMySql),
                         [](const ::testing::TestParamInfo<Kind>& p) {
                             return std::string(fx::kind_name(p.param));
                         });

}  // namespace
