// The controllers of the stand-in at the command level: each command form, the address
// escape, error modes, values by address and the command log.
#include <gtest/gtest.h>

#include <cmath>

#include "controller/data_address.h"
#include "controller/pccc_network.h"
#include "controller/tool_commands.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sim_controller::ControllerNetwork;
using sim_controller::StationMode;

Bytes request(uint8_t station, uint8_t cmd, Bytes fields, uint16_t tns = 0x1234) {
    Bytes r{station, 0x00, cmd, 0x00, static_cast<uint8_t>(tns & 0xFF), static_cast<uint8_t>(tns >> 8)};
    for (uint8_t b : fields) r.push_back(b);
    return r;
}

Bytes header(uint8_t src, uint8_t cmd, uint8_t sts, uint16_t tns = 0x1234) {
    return {0x00,
            src,
            static_cast<uint8_t>(cmd | 0x40),
            sts,
            static_cast<uint8_t>(tns & 0xFF),
            static_cast<uint8_t>(tns >> 8)};
}

Bytes plus(Bytes a, const Bytes& b) {
    for (uint8_t x : b) a.push_back(x);
    return a;
}

struct Network : testing::Test {
    Network() {
        net.add_station(1, 0x4E);
        net.add_file(1, 7, 7, 300);
        net.add_file(1, 4, 4, 10);
        net.add_file(1, 9, 9, 20);
        net.add_file(1, 300, 7, 10);
        net.set_directory(1, {{0, 4, 0}, {2, 2, 2}});
        net.add_station(2, 0x49);
        net.add_file(2, 7, 7, 10);
        net.add_file(2, 8, 8, 4);
    }
    Bytes answer(const Bytes& req) { return net.answer(req).value_or(Bytes{0xEE}); }
    ControllerNetwork net{5};
};

TEST_F(Network, DiagnosticStatusCarriesTheProcessorType) {
    const Bytes r = answer(request(1, 0x06, {0x03}));
    ASSERT_GE(r.size(), 6u + 4u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 6), header(1, 0x06, 0));
    EXPECT_EQ(r[7], 0x4E);
}

TEST_F(Network, TheDirectoryIsAHeaderAndSixByteEntries) {
    const Bytes head = answer(request(1, 0x0F, {0xA1, 0x04, 0x00, 0x60, 0x00}));
    ASSERT_EQ(head.size(), 10u);
    EXPECT_EQ((head[6] + head[7] + head[8]) % 256, 2);
    EXPECT_EQ(answer(request(1, 0x0F, {0xA1, 0x0C, 0x00, 0x60, 0x02})),
              plus(header(1, 0x0F, 0), {0, 0, 4, 0, 0, 0, 0, 2, 2, 2, 0, 0}));
    EXPECT_EQ(answer(request(1, 0x0F, {0xA1, 0x0C, 0x00, 0x60, 0x03})), header(1, 0x0F, 0x50));
    EXPECT_EQ(answer(request(1, 0x0F, {0xA1, 0x04, 0x00, 0x61, 0x00})), header(1, 0x0F, 0x10));
}

TEST_F(Network, TypedReadsAndWritesCheckTheTypeCode) {
    net.set_value(1, "N7:1", 0x0102);
    EXPECT_EQ(answer(request(1, 0x0F, {0xA2, 0x04, 0x07, 0x89, 0x00, 0x00})),
              plus(header(1, 0x0F, 0), {0, 0, 2, 1}));
    EXPECT_EQ(answer(request(1, 0x0F, {0xA2, 0x04, 0x07, 0x86, 0x00, 0x00})), header(1, 0x0F, 0x10));
    EXPECT_EQ(answer(request(1, 0x0F, {0xAA, 0x02, 0x07, 0x89, 0xFF, 0x2C, 0x01, 0x00, 0x05, 0x00})),
              header(1, 0x0F, 0x50));  // element 300 of a 300-element file
    EXPECT_EQ(answer(request(1, 0x0F, {0xAA, 0x02, 0x07, 0x89, 0xFF, 0x2B, 0x01, 0x00, 0x05, 0x00})),
              header(1, 0x0F, 0));
    EXPECT_EQ(net.value(1, "N7:299"), 5.0);
    // A file number past 254 and a sub-element word.
    EXPECT_EQ(answer(request(1, 0x0F, {0xAA, 0x02, 0xFF, 0x2C, 0x01, 0x89, 0x03, 0x00, 0x09, 0x00})),
              header(1, 0x0F, 0));
    EXPECT_EQ(net.value(1, "N300:3"), 9.0);
    net.set_value(1, "T4:2.ACC", 77);
    EXPECT_EQ(answer(request(1, 0x0F, {0xA2, 0x02, 0x04, 0x86, 0x02, 0x02})),
              plus(header(1, 0x0F, 0), {77, 0}));
}

TEST_F(Network, WordRangeAndFileNineCommands) {
    net.set_value(2, "N7:3", -2);
    EXPECT_EQ(answer(request(2, 0x0F, {0x01, 0, 0, 0x01, 0x00, 0x07, 0x00, 0x07, 0x03, 0x02})),
              plus(header(2, 0x0F, 0), {0xFE, 0xFF}));
    EXPECT_EQ(answer(request(2, 0x0F, {0x00, 0, 0, 0x01, 0x00, 0x07, 0x00, 0x07, 0x04, 0x2A, 0x00})),
              header(2, 0x0F, 0));
    EXPECT_EQ(net.value(2, "N7:4"), 42.0);
    // Word count and data disagree.
    EXPECT_EQ(answer(request(2, 0x0F, {0x00, 0, 0, 0x02, 0x00, 0x07, 0x00, 0x07, 0x04, 0x2A, 0x00})),
              header(2, 0x0F, 0x10));
    EXPECT_EQ(answer(request(1, 0x08, {0x05, 0x00, 0x11, 0x22})), header(1, 0x08, 0));
    EXPECT_EQ(answer(request(1, 0x01, {0x05, 0x00, 0x02})), plus(header(1, 0x01, 0), {0x11, 0x22}));
    EXPECT_EQ(answer(request(1, 0x07, {})), header(1, 0x07, 0x10));
}

TEST_F(Network, MaskedWritesChangeOnlyTheMaskedBits) {
    net.set_value(1, "N7:2", 0x0F0F);
    net.set_value(1, "N7:3", 0x0001);
    // Mask 0x00F0 over two words: the masked bits take the data, the others stay.
    EXPECT_EQ(
        answer(request(1, 0x0F, {0xAB, 0x04, 0x07, 0x89, 0x02, 0x00, 0xF0, 0x00, 0xA5, 0xA5, 0x5A, 0x5A})),
        header(1, 0x0F, 0));
    EXPECT_EQ(net.value(1, "N7:2"), 0x0FAF);
    EXPECT_EQ(net.value(1, "N7:3"), 0x0051);
    // Addressed to a timer's control word.
    net.set_value(1, "T4:1.ACC", 12);
    EXPECT_EQ(answer(request(1, 0x0F, {0xAB, 0x02, 0x04, 0x86, 0x01, 0x00, 0x00, 0x80, 0xFF, 0xFF})),
              header(1, 0x0F, 0));
    EXPECT_EQ(net.value(1, "T4:1/EN"), 1.0);
    EXPECT_EQ(net.value(1, "T4:1/DN"), 0.0);
    EXPECT_EQ(net.value(1, "T4:1.ACC"), 12.0);
    EXPECT_EQ(net.commands().back().text(),
              "S1 0F/AB file 4 element 1 size 2 mask 8000 data FF FF -> STS 00");
    // An odd byte count, or data that do not match it.
    EXPECT_EQ(answer(request(1, 0x0F, {0xAB, 0x01, 0x07, 0x89, 0x02, 0x00, 0xF0, 0x00, 0xA5})),
              header(1, 0x0F, 0x10));
    EXPECT_EQ(answer(request(1, 0x0F, {0xAB, 0x04, 0x07, 0x89, 0x02, 0x00, 0xF0, 0x00, 0xA5, 0xA5})),
              header(1, 0x0F, 0x10));
    EXPECT_EQ(net.value(1, "N7:2"), 0x0FAF);
}

TEST_F(Network, AProcessorRefusesTheCommandFamilyItLacks) {
    // Station 2 has no directory: no typed commands; station 1 has one: no word-range ones.
    EXPECT_EQ(answer(request(2, 0x0F, {0xAB, 0x02, 0x07, 0x89, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00})),
              header(2, 0x0F, 0x10));
    EXPECT_EQ(answer(request(2, 0x0F, {0xAA, 0x02, 0x07, 0x89, 0x00, 0x00, 0x01, 0x00})),
              header(2, 0x0F, 0x10));
    EXPECT_EQ(answer(request(2, 0x0F, {0xA2, 0x02, 0x07, 0x89, 0x00, 0x00})), header(2, 0x0F, 0x10));
    EXPECT_EQ(answer(request(1, 0x0F, {0x00, 0, 0, 0x01, 0x00, 0x07, 0x00, 0x07, 0x04, 0x2A, 0x00})),
              header(1, 0x0F, 0x10));
    EXPECT_EQ(net.value(2, "N7:0"), 0.0);
    EXPECT_EQ(net.value(1, "N7:4"), 0.0);
    net.set_processor_type(2, 0x5E);  // the station now answers as a processor with a directory
    EXPECT_EQ(answer(request(2, 0x0F, {0xAA, 0x02, 0x07, 0x89, 0x00, 0x00, 0x01, 0x00})), header(2, 0x0F, 0));
}

TEST_F(Network, ProgramsChangeTheirWordsAndBitsEachRun) {
    EXPECT_TRUE(net.add_program_step(1, "T4:0.ACC", ControllerNetwork::StepKind::add, 5));
    EXPECT_TRUE(net.add_program_step(1, "T4:0/DN", ControllerNetwork::StepKind::toggle));
    EXPECT_EQ(sim_controller::run_tool_command(net, "program 1 N7:0 add -1"), "= ok");
    EXPECT_EQ(sim_controller::run_tool_command(net, "program 1 N7:1 toggle"), "= ok");
    EXPECT_TRUE(sim_controller::run_tool_command(net, "program 1 N99:0 toggle").starts_with("! "));
    EXPECT_TRUE(sim_controller::run_tool_command(net, "program 1 N7:0 twice").starts_with("! "));
    EXPECT_FALSE(net.add_program_step(1, "N7:300", ControllerNetwork::StepKind::add));
    EXPECT_FALSE(net.add_program_step(3, "N7:0", ControllerNetwork::StepKind::add));
    net.run_programs();
    net.run_programs();
    net.run_programs();
    EXPECT_EQ(net.value(1, "T4:0.ACC"), 15.0);
    EXPECT_EQ(net.value(1, "T4:0/DN"), 1.0);
    EXPECT_EQ(net.value(1, "N7:0"), -3.0);
    EXPECT_EQ(net.value(1, "N7:1"), -1.0);  // every bit inverted, an odd number of times
    net.clear_programs();
    net.run_programs();
    EXPECT_EQ(net.value(1, "T4:0.ACC"), 15.0);
}

TEST_F(Network, ErrorModes) {
    const Bytes write_n7 = request(1, 0x0F, {0xAA, 0x02, 0x07, 0x89, 0x00, 0x00, 0x05, 0x00});
    net.set_mode(1, StationMode::silent);
    EXPECT_FALSE(net.answer(write_n7));
    EXPECT_EQ(net.value(1, "N7:0"), 0.0);  // an offline station takes no write

    net.set_mode(1, StationMode::module_status);
    EXPECT_EQ(answer(write_n7), header(5, 0x0F, 0x02));
    EXPECT_EQ(net.value(1, "N7:0"), 0.0);

    net.set_mode(1, StationMode::extended, 0x0B);
    EXPECT_EQ(answer(write_n7), plus(header(1, 0x0F, 0xF0), {0x0B}));

    net.set_mode(1, StationMode::wrong_tns, 0, 1);
    EXPECT_EQ(answer(write_n7), header(1, 0x0F, 0, 0x1235));
    EXPECT_EQ(answer(write_n7), header(1, 0x0F, 0));  // one request only

    net.set_mode(1, StationMode::short_reply, 1);
    EXPECT_EQ(answer(request(1, 0x0F, {0xA2, 0x04, 0x07, 0x89, 0x00, 0x00})),
              plus(header(1, 0x0F, 0), {5, 0, 0}));
    net.set_mode(1, StationMode::normal);

    net.protect_file(1, 7);
    EXPECT_EQ(answer(write_n7), header(1, 0x0F, 0x60));
    net.unprotect_file(1, 7);
    EXPECT_EQ(answer(request(1, 0x0F, {0xA2, 0x04, 0x07, 0x89, 0xFF, 0x2B, 0x01, 0x00})),
              header(1, 0x0F, 0x50));
    EXPECT_EQ(answer(request(1, 0x0F, {0xA2, 0x02, 0x08, 0x8A, 0x00, 0x00})), header(1, 0x0F, 0x50));
}

TEST_F(Network, ValuesByAddressInEachFileType) {
    EXPECT_EQ(net.set_value(1, "T4:1.PRE", 100), 0);
    EXPECT_EQ(net.set_value(1, "T4:1/DN", 1), 0);
    EXPECT_EQ(net.element_bytes(1, 4, 1), (Bytes{0x00, 0x20, 100, 0, 0, 0}));
    EXPECT_EQ(net.value(1, "T4:1.PRE"), 100.0);
    EXPECT_EQ(net.value(1, "T4:1/13"), 1.0);
    EXPECT_EQ(net.set_value(1, "N7:0/35", 1), 0);  // bit 3 of element 2
    EXPECT_EQ(net.value(1, "N7:2"), 8.0);
    // Floats in the station's word order.
    EXPECT_EQ(net.set_value(2, "F8:1", 1.5), 0);
    EXPECT_EQ(net.element_bytes(2, 8, 1), (Bytes{0xC0, 0x3F, 0x00, 0x00}));
    EXPECT_EQ(net.value(2, "F8:1"), 1.5);
    net.add_file(1, 8, 8, 2);
    EXPECT_EQ(net.set_value(1, "F8:1", 1.5), 0);
    EXPECT_EQ(net.element_bytes(1, 8, 1), (Bytes{0x00, 0x00, 0xC0, 0x3F}));

    errno = 0;
    EXPECT_EQ(net.set_value(1, "N7:0", 40000), -1);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(net.set_value(1, "N7:300", 1), -1);
    EXPECT_EQ(net.set_value(1, "N12:0", 1), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(net.set_value(1, "Q7:0", 1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(net.set_value(9, "N7:0", 1), -1);
}

TEST_F(Network, AddressTexts) {
    struct Case {
        const char* text;
        bool ok;
        const char* formatted;
    };
    const Case cases[] = {
        {"N7:3", true, "N7:3"},       {"N7:3.1", false, ""},       {"T4:0.ACC", true, "T4:0.2"},
        {"C5:1/DN", true, "C5:1/13"}, {"R6:2/FD", true, "R6:2/8"}, {"B3:0/35", true, "B3:2/3"},
        {"O:2", true, "O0:2"},        {"I1:0/3", true, "I1:0/3"},  {"F8:2", true, "F8:2"},
        {"T4:0.1", true, "T4:0.1"},   {"T4:0.3", false, ""},       {"N7", false, ""},
        {"X1:0", false, ""},          {"N7:0/16", true, "N7:1/0"}, {"T4:0/16", false, ""}};
    for (const auto& c : cases) {
        const auto a = sim_controller::parse_data_address(c.text);
        EXPECT_EQ(a.has_value(), c.ok) << c.text;
        if (a && c.ok) {
            EXPECT_EQ(sim_controller::format_data_address(*a), c.formatted) << c.text;
        }
    }
}

TEST_F(Network, EveryCommandIsLoggedDecoded) {
    answer(request(1, 0x0F, {0xAA, 0x04, 0x07, 0x89, 0x03, 0x00, 0x05, 0x00, 0x06, 0x00}, 0x55));
    net.set_mode(1, StationMode::silent);
    answer(request(1, 0x06, {0x03}));
    const auto log = net.commands();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].station, 1);
    EXPECT_EQ(log[0].file, 7);
    EXPECT_EQ(log[0].element, 3);
    EXPECT_EQ(log[0].size, 4);
    EXPECT_TRUE(log[0].is_write());
    EXPECT_EQ(log[0].text(), "S1 0F/AA file 7 element 3 size 4 data 05 00 06 00 -> STS 00");
    EXPECT_EQ(log[1].text(), "S1 06/03 -> no reply");
    net.clear_commands();
    EXPECT_TRUE(net.commands().empty());
}

TEST_F(Network, ToolCommands) {
    EXPECT_EQ(sim_controller::run_tool_command(net, "set 1 N7:4 -9"), "= ok");
    EXPECT_EQ(sim_controller::run_tool_command(net, "get 1 N7:4"), "= S1 N7:4 -9");
    EXPECT_EQ(sim_controller::run_tool_command(net, "mode 1 extended 0x07 2"), "= ok");
    EXPECT_EQ(answer(request(1, 0x06, {0x03})), plus(header(1, 0x06, 0xF0), {0x07}));
    EXPECT_EQ(sim_controller::run_tool_command(net, "protect 2 7 0x50"), "= ok");
    EXPECT_EQ(answer(request(2, 0x0F, {0x01, 0, 0, 0x01, 0x00, 0x07, 0x00, 0x07, 0x03, 0x02})),
              header(2, 0x0F, 0x50));
    EXPECT_EQ(sim_controller::run_tool_command(net, "type 2 0x5E"), "= ok");
    EXPECT_EQ(answer(request(2, 0x06, {0x03}))[7], 0x5E);
    EXPECT_TRUE(sim_controller::run_tool_command(net, "get 1 N99:0").starts_with("! "));
    EXPECT_TRUE(sim_controller::run_tool_command(net, "mode 1 sleepy").starts_with("! "));
    EXPECT_TRUE(sim_controller::run_tool_command(net, "bogus").starts_with("! "));
    EXPECT_TRUE(sim_controller::add_file_from_argument(net, 2, "B3:16"));
    EXPECT_FALSE(sim_controller::add_file_from_argument(net, 2, "B3:0"));
}

}  // namespace
