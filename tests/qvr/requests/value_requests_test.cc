// Value and server requests over the real pipe to the stand-in: the exact bytes each call
// sends, what the replies turn into, and the server's time and zone.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <functional>

#include "platform/host_identity.h"
#include "platform/last_error.h"
#include "platform/time_zone.h"
#include "qvr/requests/logger_requests.h"
#include "qvr/requests/processor_requests.h"
#include "qvr/requests/value_requests.h"
#include "qvr/time/timestamp.h"
#include "requests_fixture.h"

namespace {

using requests_test::bytes;
using requests_test::RequestServer;
using requests_test::RequestTest;

std::string computer() {
    return platform::computer_name().substr(0, 15);
}

std::string user(std::size_t max) {
    return platform::user_name().substr(0, max);
}

struct WireCase {
    const char* name;
    std::function<int()> call;
    int result;
    std::function<std::vector<std::string>()> sent;  // the requests the stand-in recorded
    int error = 0;
};

void PrintTo(const WireCase& c, std::ostream* os) {
    *os << c.name;
}

class WireTexts : public RequestTest, public testing::WithParamInterface<WireCase> {};

TEST_P(WireTexts, AreSentExactly) {
    const WireCase& c = GetParam();
    {
        auto t = server().tables.lock();
        t->processors.push_back({"CALC1", "Calculator", "AA:10"});
        t->devices.push_back({"DEV", 1, "Device One"});
        t->loggers.push_back({"stand", 1, "first", "L1"});
    }
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "locales-all is needed";
    errno = 12345;
    EXPECT_EQ(c.call(), c.result);
    if (c.result == -1 || c.error != 0) {
        EXPECT_EQ(errno, c.error);
    }
    EXPECT_EQ(server().sent(), c.sent());
}

std::vector<std::string> none() {
    return {};
}

INSTANTIATE_TEST_SUITE_P(
    Table, WireTexts,
    testing::Values(
        WireCase{"ValueWithAPointUnderADecimalCommaLocale", [] { return SetChannelValue(".", "AI1", 12.5); },
                 1,
                 [] { return std::vector{bytes(("FV,AI1,12.5," + computer() + "," + user(32)).c_str())}; }},
        WireCase{"ValueInGeneralForm", [] { return SetChannelValue(".", "AI1", 1e-7); }, 1,
                 [] { return std::vector{bytes(("FV,AI1,1e-07," + computer() + "," + user(32)).c_str())}; }},
        WireCase{"TextAsUtf16WithItsTwoByteNul", [] { return SetChannelText(".", "AO2", u"H\u00e9\u20ac"); },
                 1,
                 [] {
                     return std::vector{"SV,AO2," + computer() + "," + user(32) + "," +
                                        std::string("H\0\xE9\0\xAC\x20\0\0", 8)};
                 }},
        WireCase{"EightCharacterChannelSendsNothing", [] { return SetChannelText(".", "ABCDEFGH", u"x"); }, 0,
                 none},
        WireCase{"EightCharacterChannelValueSendsNothing", [] { return SetChannelValue(".", "ABCDEFGH", 1); },
                 0, none},
        WireCase{"ChannelWithACommaIsRefused", [] { return SetChannelValue(".", "A,1", 1); }, -1, none, 87},
        WireCase{"TextOver512BytesIsRefused",
                 [] { return SetChannelText(".", "AO2", std::u16string(300, u'x').c_str()); }, -1, none, 87},
        WireCase{"CurrentValues",
                 [] {
                     static char reply[kValueReplySize];
                     return RequestCurrentValue(".", "AI1,AI2", reply);
                 },
                 2, [] { return std::vector{bytes("CV,AI1,AI2")}; }},
        WireCase{"RecentValuesWithALineBreakAreRefused",
                 [] {
                     static char reply[kValueReplySize];
                     return RequestRV(".", "AI1\nAI2", reply);
                 },
                 -1, none, 87},
        WireCase{"TagChannels",
                 [] {
                     const char* tags[] = {"T1", "T2"};
                     uint8_t out[8];
                     return RequestTagChannels(".", tags, 2, out);
                 },
                 0, [] { return std::vector{bytes("TC,T1,T2")}; }},
        WireCase{"TagWithACommaIsRefused",
                 [] {
                     const char* tags[] = {"T1", "T,2", "T3"};
                     uint8_t out[12];
                     return RequestTagChannels(".", tags, 3, out);
                 },
                 -1, none, 87},
        WireCase{"DisableServerWithTheUserCutTo28", [] { return RequestDS("."); }, 1,
                 [] { return std::vector{bytes(("DS," + user(28)).c_str())}; }},
        WireCase{"AskServer", [] { return RequestAS(".", "query"); }, 1,
                 [] { return std::vector{bytes("AS,query")}; }},
        WireCase{"ServerOS", [] { return RequestOS("."); }, 1, [] { return std::vector{bytes("OS")}; }},
        WireCase{"SetupTextAsksForItsSize",
                 [] {
                     char text[100];
                     return RequestSE(".", "DEV_1", text, sizeof text);
                 },
                 1, [] { return std::vector{bytes("SE,DEV_1,100")}; }},
        WireCase{"ControlLetterSentUpperCase", [] { return ControlProcessor(".", 'i', "CALC1"); }, 1,
                 [] { return std::vector{bytes("CP,CALC1,I")}; }},
        WireCase{"ControlNumber", [] { return ControlProcessor(".", 300, "CALC1"); }, 1,
                 [] { return std::vector{bytes("CP,CALC1,300")}; }},
        WireCase{"UnknownControlLetterSendsNothingErrnoZero",
                 [] { return ControlProcessor(".", 'x', "CALC1"); }, -1, none, 0},
        WireCase{"DevicesKnowNoT", [] { return ControlDevice(".", 't', "DEV_1"); }, -1, none, 0},
        WireCase{"DeviceControl", [] { return ControlDevice(".", 'r', "DEV_1"); }, 1,
                 [] { return std::vector{bytes("CE,DEV_1,R")}; }},
        WireCase{"DeleteAndEnable", [] { return DeleteProcessor(".", "CALC1") + EnableDevice(".", "DEV_1"); },
                 2,
                 [] {
                     return std::vector{bytes("DP,CALC1"), bytes("EE,DEV_1")};
                 }},
        WireCase{"DisableLoggerWithTheUser", [] { return DisableLogger(".", "L1"); }, 1,
                 [] { return std::vector{bytes(("DL," + std::string("L1,") + user(160)).c_str())}; }},
        WireCase{"LoggerControlNumber",
                 [] { return ControlLogger(".", 'f', "L1") + ControlLogger(".", 999, "L1"); }, 2,
                 [] {
                     return std::vector{bytes("CL,L1,F"), bytes("CL,L1,999")};
                 }},
        WireCase{"LoggerControlLetterRefused", [] { return ControlLogger(".", 'C', "L1"); }, -1, none, 0},
        WireCase{"LoggerTwoFields", [] { return RequestML(".", "L1", "b") + RequestYL(".", "L1", "c"); }, 2,
                 [] {
                     return std::vector{bytes("ML,L1,b"), bytes("YL,L1,c")};
                 }},
        WireCase{"SelectorBeyondTheIntRangeIsRefused",
                 [] {
                     ProcessorRecord r[1];
                     return GetProcessorInfo(".", "*,99999999999", r, 1);
                 },
                 -1, none, 87},
        WireCase{"SelectorWithASemicolonIsRefused",
                 [] {
                     ProcessorStateRecord r[1];
                     return GetProcessorState(".", "a;b", r, 1);
                 },
                 -1, none, 87}),
    [](const testing::TestParamInfo<WireCase>& p) { return std::string(p.param.name); });

TEST_F(RequestTest, ServerStateRepliesAreReadWithinTheirBuffers) {
    struct Case {
        std::string reply;
        int result, number;
        const char *text1, *text2;
    };
    for (const Case& c :
         {Case{bytes("3,abc"), 3, 3, "abc", ""}, Case{bytes("7,one,two,three"), 7, 7, "one", "two,three"},
          Case{bytes("4"), 4, 4, "", ""}, Case{bytes("5,a-very-long-text,x"), 5, 5, "a-very-", "x"},
          Case{std::string("-1,5", 5), -1, 0, "", ""}}) {
        server().dispatcher().script_reply("BS", c.reply);
        int number = 99;
        char text1[8] = "stale", text2[16] = "stale";
        EXPECT_EQ(RequestBS(".", &number, text1, sizeof text1, text2, sizeof text2), c.result) << c.reply;
        EXPECT_EQ(number, c.number);
        EXPECT_STREQ(text1, c.text1);
        EXPECT_STREQ(text2, c.text2);
    }
}

TEST_F(RequestTest, TagChannelsAreCopiedAsFarAsTheReplyHoldsThem) {
    {
        auto t = server().tables.lock();
        t->tag_channels["T1"] = std::string("AI\x05\x00", 4);
        t->tag_channels["T2"] = std::string("DO\x00\x01", 4);
    }
    const char* tags[] = {"T1", "T2"};
    uint8_t out[8];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(RequestTagChannels(".", tags, 2, out), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), std::string("AI\x05\x00"
                                                                        "DO\x00\x01",
                                                                        8));
    // A reply that ends after the first entry and half of the second: the rest is zeros.
    server().dispatcher().script_reply("TC", std::string("0,AI\x05\x00"
                                                         "DO",
                                                         8));
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(RequestTagChannels(".", tags, 2, out), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), std::string("AI\x05\x00\0\0\0\0", 8));
}

int32_t i32(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

TEST_F(RequestTest, TheLocalServersTimeIsAnsweredWithoutARequest) {
    setenv("TZ", "Europe/Berlin", 1);
    TimeStamp stamp{};
    uint8_t zone[kTimeZoneRecordSize];
    EXPECT_EQ(GetServerTimeZone(".", &stamp, zone), 0);
    EXPECT_EQ(GetServerTime(nullptr, &stamp), 0);
    EXPECT_EQ(server().dispatcher().request_count(), 0u);
    TimeStamp now{};
    rt_GetLocalStamp(&now);
    EXPECT_LE(std::abs(now.seconds - stamp.seconds), 5);
    EXPECT_EQ(i32(zone + platform::kTimeZoneBias), -60);
}

TEST_F(RequestTest, AnotherServersTimeAndZoneComeFromTS) {
    RequestServer plant((temp_.path() / "plant").string(), "plant7");
    ASSERT_EQ(plant.start(), 0);
    {
        auto t = plant.tables.lock();
        t->zone = "America/New_York";
        t->seconds = 123456;
        t->milliseconds = 789;
    }
    TimeStamp stamp{};
    uint8_t zone[kTimeZoneRecordSize];
    ASSERT_EQ(GetServerTimeZone("plant7", &stamp, zone), 0);
    EXPECT_EQ(stamp.seconds, 123456);
    EXPECT_EQ(stamp.milliseconds, 789);
    const auto expected = platform::time_zone_information_for("America/New_York");
    EXPECT_EQ(std::memcmp(zone, expected.data(), expected.size()), 0);
    EXPECT_EQ(i32(zone + platform::kTimeZoneBias), 300);
    ASSERT_EQ(plant.sent(), std::vector{bytes("TS")});

    // A reply that holds only part of the zone gives a zero zone, never bytes beyond it.
    plant.dispatcher().script_reply("TS", std::string("5,6\0", 4) + std::string(171, '\x7f'));
    std::memset(zone, 0xEE, sizeof zone);
    ASSERT_EQ(GetServerTimeZone("plant7", &stamp, zone), 0);
    EXPECT_EQ(stamp.seconds, 5);
    EXPECT_EQ(stamp.milliseconds, 6);
    EXPECT_EQ(std::count(zone, zone + sizeof zone, 0), static_cast<long>(sizeof zone));
    // A failed request: -1, and zeros.
    plant.dispatcher().script_reply("TS", std::string("-1,5", 5));
    std::memset(zone, 0xEE, sizeof zone);
    EXPECT_EQ(GetServerTimeZone("plant7", &stamp, zone), -1);
    EXPECT_EQ(errno, 5);
    EXPECT_EQ(stamp.seconds, 0);
    EXPECT_EQ(std::count(zone, zone + sizeof zone, 0), static_cast<long>(sizeof zone));
}

}  // namespace
