// Requests over the real pipe to the stand-in server: what each reply turns into, and the
// trace line that goes with it.
#include <gtest/gtest.h>

#include <string>

#include "link_fixture.h"
#include "platform/last_error.h"
#include "qvr/link/reply_cases.h"
#include "qvr/xml/xml.h"

namespace {

using link_test::LinkTest;
using link_test::ReplyCase;

class Replies : public LinkTest, public testing::WithParamInterface<ReplyCase> {};

TEST_P(Replies, BecomeResultErrorAndTraceLine) {
    const ReplyCase& c = GetParam();
    server().dispatcher.script_reply("QS", c.reply);
    errno = 12345;
    EXPECT_EQ(send("", "QS,x", c.capacity), c.result);
    EXPECT_EQ(platform::last_error(), c.error);
    EXPECT_EQ(errno, c.error);
    EXPECT_EQ(trace(std::string("<<.") + c.trace).size(), 1u) << c.trace;
}

INSTANTIATE_TEST_SUITE_P(Table, Replies, testing::ValuesIn(link_test::reply_cases()),
                         [](const testing::TestParamInfo<ReplyCase>& p) { return std::string(p.param.name); });

TEST_F(LinkTest, XmlParseErrorReplySetsTheXmlStatusAndItsText) {
    xml_ResetStatus();
    server().dispatcher.script_reply("CF", std::string("-1,1465,line 3: bad tag", 24));
    EXPECT_EQ(send(".", "CF,dev"), -1);
    EXPECT_EQ(platform::last_error(), 1465);
    EXPECT_EQ(xml_GetStatus(), 1465);
    EXPECT_STREQ(xml_GetMessage(), "line 3: bad tag");
    EXPECT_STREQ(xml_GetErrorText(), " - line 3: bad tag");
    // Without a text after the code the message is empty, never what lies beyond the reply.
    server().dispatcher.script_reply("CF", "-1,1465");
    EXPECT_EQ(send(".", "CF,dev"), -1);
    EXPECT_STREQ(xml_GetMessage(), "");
    // A long text is cut to 255 characters.
    server().dispatcher.script_reply("CF", "-1,1465," + std::string(400, 'm'));
    EXPECT_EQ(send(".", "CF,dev", 512), -1);
    EXPECT_EQ(std::string(xml_GetMessage()), std::string(255, 'm'));
}

TEST_F(LinkTest, TheServerGetsTheExactRequestBytesBinaryTailIncluded) {
    const char request[] = "WF,file.txt\0\x01\x02\x00\x03";
    char reply[32];
    uint32_t length = sizeof reply;
    EXPECT_EQ(link_SendRequest(nullptr, request, sizeof request - 1, reply, &length), -1);  // "-1,1": unknown code
    const auto requests = server().dispatcher.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].bytes, std::string(request, sizeof request - 1));
    EXPECT_EQ(requests[0].transport, "pipe");
}

TEST_F(LinkTest, ReplyLongerThanCapacityClosesTheLinkAndTheNextRequestReopens) {
    server().dispatcher.script_reply("QS", std::string(300, '1'));
    EXPECT_EQ(send(".", "QS", 100), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorMoreData);
    EXPECT_EQ(send(".", "RS"), 0);
    EXPECT_EQ(reply(), std::string("0,ready        ") + '\0');
    EXPECT_EQ(server().front.connections_accepted(), 2u);
}

TEST_F(LinkTest, AllNamesOfThisMachineShareOneEntryAndOneConnection) {
    for (const char* name : {"", ".", "localhost", "LOCALHOST", "127.0.0.1", "http://localhost/"})
        EXPECT_EQ(send(name, "RS"), 0) << name;
    EXPECT_EQ(send(nullptr, "RS"), 0);
    EXPECT_EQ(qvr::link_testing::claimed_entries(), 1);
    EXPECT_EQ(server().front.connections_accepted(), 1u);
    EXPECT_EQ(server().dispatcher.request_count(), 7u);
    EXPECT_EQ(capture_.lines(">>. Opening pipe connection\r\n").size(), 1u);
}

TEST_F(LinkTest, ShortRequestTracesWhatItHas) {
    char reply[16];
    uint32_t length = sizeof reply;
    EXPECT_EQ(link_SendRequest(".", "R", 1, reply, &length), -1);  // the stand-in answers "-1,1"
    EXPECT_EQ(trace("<<. Call Error 1 to R\r\n").size(), 1u);
}

TEST_F(LinkTest, OverLongServerStringIsRefusedBeforeTheTableIsTouched) {
    const std::string server(1284, 's');
    EXPECT_EQ(send(server.c_str(), "RS"), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    EXPECT_EQ(qvr::link_testing::claimed_entries(), 0);
    EXPECT_EQ(link_GetServerKind(server.c_str()), kServerPipe);
    EXPECT_EQ(link_GetConnection(server.c_str()), nullptr);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
}

TEST_F(LinkTest, BadArgumentsFailWith87) {
    uint32_t length = 0;
    EXPECT_EQ(link_SendText(".", nullptr, nullptr, &length), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    EXPECT_EQ(link_SendRequest(".", "RS", 3, nullptr, nullptr), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
}

}  // namespace
