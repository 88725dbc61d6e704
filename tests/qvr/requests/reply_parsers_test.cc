// The list and state replies as tables of cases: good entries, and every way a reply can be
// malformed (the same rows seed the fuzz target).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "qvr/requests/reply_parsers.h"

namespace {

using namespace qvr::requests;

struct ListCase {
    const char* name;
    std::string reply;
    int capacity;
    int result;
};

void PrintTo(const ListCase& c, std::ostream* os) {
    *os << c.name;
}

class ProcessorLists : public testing::TestWithParam<ListCase> {};

TEST_P(ProcessorLists, ParseOrAreMalformed) {
    const ListCase& c = GetParam();
    ProcessorRecord records[4];
    std::memset(records, 0xEE, sizeof records);
    EXPECT_EQ(parse_processor_list(c.reply, records, c.capacity), c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProcessorLists,
    testing::Values(ListCase{"Good", "2,P1,One,AA:10,1,A;P2,Two,BB:5,0,D;", 2, 2},
                    ListCase{"NoTrailingSemicolon", "1,P1,One,AA:10,1,A", 1, 1},
                    ListCase{"CountZero", "0,", 4, 0}, ListCase{"NoCommaAfterCount", "2", 4, -1},
                    ListCase{"NoCount", ",P1,One,AA:10,1,A;", 4, -1},
                    ListCase{"FewerThanFiveFields", "1,P1,One,AA:10,1;", 4, -1},
                    ListCase{"NameOverItsRecord", "1,ABCDEFGHIJ,One,AA:10,1,A;", 4, -1},
                    ListCase{"PrintNameOverItsRecord", "1,P1," + std::string(26, 'p') + ",AA:10,1,A;", 4, -1},
                    ListCase{"PrefixOverTwo", "1,P1,One,AAA:10,1,A;", 4, -1},
                    ListCase{"NegativeCount", "1,P1,One,AA:-10,1,A;", 4, -1},
                    ListCase{"NegativeRunFlag", "1,P1,One,AA:10,-1,A;", 4, -1},
                    ListCase{"MoreEntriesThanCapacity", "3,A,a,AA:1,1,A;B,b,AA:1,1,A;C,c,AA:1,1,A;", 2, -1}),
    [](const testing::TestParamInfo<ListCase>& p) { return std::string(p.param.name); });

TEST(ProcessorListEntry, FillsTheRecordAsTheServerGaveIt) {
    ProcessorRecord r[3];
    ASSERT_EQ(parse_processor_list("3,calc1,Calc,AA:10,1,A;usr,User,BB:2,0,x;modbus,Modbus,MB:7,1,A;", r, 3),
              3);
    EXPECT_STREQ(r[0].name, "calc1");
    EXPECT_STREQ(r[0].print_name, "Calc");
    EXPECT_EQ(std::string(r[0].prefix, 2), "AA");
    EXPECT_EQ(+r[0].channel_count, 10);
    EXPECT_EQ(r[0].run, 1);
    EXPECT_EQ(r[0].type, 2);
    EXPECT_EQ(r[1].type, 3);
    EXPECT_EQ(r[2].type, 6);
}

TEST(DeviceListEntry, RangesGoToTheirKindsAndTheKeyIsComputed) {
    DeviceInfoRecord r[2];
    ASSERT_EQ(parse_device_list("2,plc,3,Line PLC,AI:8 - AO:4,whatever;dev,12,D,DI:1,DEV_12;", r, 2), 2);
    EXPECT_STREQ(r[0].name, "plc");
    EXPECT_EQ(+r[0].number, 3);
    EXPECT_STREQ(r[0].print_name, "Line PLC");
    EXPECT_STREQ(r[0].key, "PLC_3");
    EXPECT_EQ(std::string(r[0].ranges[0].prefix, 2), "AI");
    EXPECT_EQ(+r[0].ranges[0].count, 8);
    EXPECT_EQ(r[0].ranges[1].prefix[0], '\0');
    EXPECT_EQ(std::string(r[0].ranges[2].prefix, 2), "AO");
    EXPECT_EQ(+r[0].ranges[2].count, 4);
    EXPECT_STREQ(r[1].key, "DEV_12");
    for (const char* bad : {"1,d,1,D,AI:1 AI:1 AI:1 AI:1 AI:1 AI:1 AI:1;", "1,d,-1,D,AI:1;", "1,d,x,D,AI:1;",
                            "1,d,1,D;", "1,d,1,0123456789012345678901234,AI:1;", "1,ABCDEFGHIJ,1,D,AI:1;"})
        EXPECT_EQ(parse_device_list(bad, r, 2), -1) << bad;
}

TEST(StateEntries, TakeTheSecondTextWhenItIsNotEmpty) {
    ProcessorStateRecord p[2];
    ASSERT_EQ(parse_processor_state("2,1,2,running,;3,4,short,the long second text;", p, 2), 2);
    EXPECT_EQ(p[0].state[0], 1);
    EXPECT_STREQ(p[0].text, "running");
    EXPECT_STREQ(p[1].text, "the long second text");
    EXPECT_EQ(parse_processor_state("1,1,2," + std::string(31, 't') + ";", p, 2), -1);
    EXPECT_EQ(parse_processor_state("1,1,2,t," + std::string(256, 'u') + ";", p, 2), -1);
    EXPECT_EQ(
        parse_processor_state("1,1,2," + std::string(30, 't') + "," + std::string(255, 'u') + ";", p, 2), 1);
    EXPECT_EQ(parse_processor_state("1,1;", p, 2), -1);
    EXPECT_EQ(parse_processor_state("1,256,1,x;", p, 2), -1);
    DeviceStateRecord d[1];
    ASSERT_EQ(parse_device_state("1,1,0,-42,ok;", d, 1), 1);
    EXPECT_EQ(+d[0].value, -42);
    EXPECT_STREQ(d[0].text, "ok");
    EXPECT_EQ(parse_device_state("1,1,0,5;", d, 1), 1);
    EXPECT_EQ(parse_device_state("1,1,0;", d, 1), -1);
    EXPECT_EQ(parse_device_state("1,1,0,x;", d, 1), -1);
    EXPECT_EQ(parse_device_state("2,1,0,1,a;1,0,1,b;", d, 1), -1);
}

TEST(LoggerEntries, ListAndStateWithinTheirRecords) {
    LoggerInfoRecord info[2];
    ASSERT_EQ(parse_logger_list("2,stand,1,First logger;repub,2,;", info, 2), 2);
    EXPECT_STREQ(info[0].kind, "stand");
    EXPECT_EQ(+info[0].number, 1);
    EXPECT_STREQ(info[0].description, "First logger");
    EXPECT_EQ(parse_logger_list("1,stand,1;", info, 2), -1);
    EXPECT_EQ(parse_logger_list("1,stand,1," + std::string(130, 'd') + ";", info, 2), -1);
    LoggerStateRecord state[1];
    ASSERT_EQ(parse_logger_state("1,L1,1,2,3,-4,text,;", state, 1), 1);
    EXPECT_STREQ(state[0].name, "L1");
    EXPECT_EQ(state[0].state[0], 1);
    EXPECT_EQ(state[0].state[2], 3);
    EXPECT_EQ(+state[0].value, -4);
    EXPECT_STREQ(state[0].text, "text");
    EXPECT_EQ(parse_logger_state("1,L1,1,2,3,4,x," + std::string(254, 's') + ";", state, 1), 1);
    EXPECT_EQ(std::strlen(state[0].text), 254u);
    EXPECT_EQ(parse_logger_state("1,L1,1,2,3,4,x," + std::string(255, 's') + ";", state, 1), -1);
    EXPECT_EQ(parse_logger_state("1,L1,1,2,3;", state, 1), -1);
}

TEST(FileReplies, ReadCountsMustLieInsideTheReplyAndTheAsk) {
    const std::string data(10, 'd');
    EXPECT_EQ(parse_read_reply("1," + data + ",7" + std::string(1, '\0'), 10), 7);
    EXPECT_EQ(parse_read_reply("1," + data + ",10", 10), 10);
    EXPECT_EQ(parse_read_reply("1," + data + ",11", 10), -1);       // more than asked
    EXPECT_EQ(parse_read_reply("1," + data + ",-5", 10), -1);       // negative
    EXPECT_EQ(parse_read_reply("1," + data + ",", 10), -1);         // no count
    EXPECT_EQ(parse_read_reply("1," + data.substr(0, 4), 10), -1);  // cut before the count
    uint32_t parts[6];
    ASSERT_TRUE(parse_file_times("1,1,2,3,4,-1,6", parts));
    EXPECT_EQ(parts[4], 0xFFFFFFFFu);
    EXPECT_FALSE(parse_file_times("1,1,2,3,4,5", parts));
}

}  // namespace
