// The command layer, stations and kind handlers over the real serial link: a pseudo-terminal
// to the interface-module stand-in with its controllers behind it.
#include <gtest/gtest.h>

#include <cstring>

#include "controller/interface_module.h"
#include "controller/pccc_network.h"
#include "controller/pseudo_terminal.h"
#include "link_test_support.h"
#include "pccc_test_support.h"
#include "platform/testing/serial_port_testing.h"
#include "qvr/settings/reg.h"
#include "tolva_sc/comm_module_address.h"
#include "tolva_sc/kind_handlers.h"
#include "tolva_sc/pccc_codes.h"

namespace {

using namespace std::chrono_literals;
using pccc_test::channel;
using pccc_test::hw;
namespace kind = tolva::kind;

struct SerialScan : testing::Test {
    void SetUp() override {
        platform::set_serial_call_bound(20ms);
        ASSERT_EQ(line.open(), 0);
        ASSERT_EQ(sim_controller::map_port_name("COM6", line.device_path()), 0);
        network.add_station(1, 0x4E);
        network.add_file(1, 7, 7, 20);
        network.add_file(1, 4, 4, 4);
        network.set_directory(1, {{0, 2, 0}, {4, 4, 1}});
        network.add_file(1, 1, 1, 8);
        network.add_station(2, 0x49);
        network.add_file(2, 8, 8, 4);
        // No test here is about a lost answer: waits for ACKs are long enough for a loaded
        // machine, so that none ends in an enquiry or a time-out it did not ask for.
        sim_controller::ModuleOptions options;
        options.answer_timeout = 2s;
        module = std::make_unique<sim_controller::InterfaceModule>(options);
        network.attach(*module);
        ASSERT_EQ(module->start(line.take_module_side()), 0);
        tolva::CommSettings comm = link_test::comm_for("COM6");
        ASSERT_EQ(link.setup(comm, 6), 0);
        set_reply_timeout(5000);
    }
    // Only a test that expects a time-out waits a short reply time-out.
    void set_reply_timeout(int64_t ms) {
        tolva::LinkTimings timings = link_test::test_timings(ms);
        timings.ack_timeout_ms = 2000;
        timings.control_write_ms = 2000;
        link.set_timings(timings);
    }
    void TearDown() override { module->stop(); }

    static void set_module_address(const char* text) {
        uint32_t type = kRegSz;
        uint32_t size = static_cast<uint32_t>(std::strlen(text) + 1);
        ASSERT_EQ(reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeySetValue,
                                         "TOLVA_1_CommModuleAddr", &type, const_cast<char*>(text), &size),
                  0);
    }

    sim_controller::PseudoTerminal line;
    sim_controller::ControllerNetwork network{7};
    std::unique_ptr<sim_controller::InterfaceModule> module;
    tolva::Df1Link link;
    tolva::Df1MessageLink messages{link};
};

TEST_F(SerialScan, ProbesReadsAndWritesThroughTheLine) {
    tolva::PcccCommands commands(
        messages, [] { return true; }, [] { return tolva::read_comm_module_address("TOLVA_1"); });
    tolva::StationTable table(commands, {}, [](std::string_view) {});
    tolva::KindHandlers handlers(commands, table);
    tolva::DeviceConfigRecord config{};

    network.set_value(1, "I1:5", 321);  // slot 1 word 1
    network.set_value(2, "F8:2", 12.5);
    std::vector<qvr::ChannelRecord> inputs{channel(0, hw(1, 1, 1, 0, 1, -1, 1)), channel(0, hw(2, 8, 8, 2))};
    std::vector<uint32_t> in_status(2, 0);
    std::vector<float> in_values(2, 0);
    ASSERT_EQ(handlers.init(kind::kAI, config, inputs), 0);
    EXPECT_EQ(table.find(1)->directory.entry_count(), 2u);
    EXPECT_EQ(table.processor_type(2), 0x49);
    ASSERT_EQ(handlers.scan(kind::kAI, config, inputs, in_status, in_values), 0);
    EXPECT_EQ(in_values[0], 321.0f);
    EXPECT_EQ(in_values[1], 12.5f);
    EXPECT_EQ(in_status[0] & 0x20, 0u);

    network.set_value(1, "T4:1.ACC", 9);
    std::vector<qvr::ChannelRecord> outputs{channel(2, hw(1, 4, 4, 1, -1, 0)), channel(2, hw(1, 7, 7, 3))};
    std::vector<uint32_t> out_status(2, 0);
    std::vector<float> out_values{30.0f, 4.0f};
    ASSERT_EQ(handlers.init(kind::kAO, config, outputs), 0);
    ASSERT_EQ(handlers.scan(kind::kAO, config, outputs, out_status, out_values), 0);
    EXPECT_EQ(network.value(1, "T4:1.PRE"), 30.0);
    EXPECT_EQ(network.value(1, "T4:1.ACC"), 9.0);
    EXPECT_EQ(network.value(1, "N7:3"), 4.0);
    EXPECT_EQ(out_status[0] & 0x20, 0u);
}

TEST_F(SerialScan, AnOfflineStationAnsweredByTheModuleEndsEachCommandAtOnce) {
    set_module_address("7");
    network.set_mode(1, sim_controller::StationMode::module_status);
    tolva::PcccCommands commands(
        messages, [] { return true; }, [] { return tolva::read_comm_module_address("TOLVA_1"); });
    tolva::StationTable table(commands, {}, [](std::string_view) {});
    ASSERT_NE(table.ensure(1), nullptr);
    EXPECT_FALSE(table.find(1)->probed);
    EXPECT_EQ(table.find(1)->text(), "S1 F0: App 0x1");
    EXPECT_EQ(network.commands().size(), 1u);  // no resend, no wait for more
}

TEST_F(SerialScan, ASilentStationEndsWithTheLinkTimeOut) {
    network.set_mode(2, sim_controller::StationMode::silent);
    set_reply_timeout(500);
    tolva::PcccCommands commands(messages, [] { return true; });
    std::vector<uint8_t> data(4);
    tolva::TransferRequest r;
    r.station = 2;
    r.byte_count = 4;
    r.data = data;
    EXPECT_EQ(commands.diagnostic_status(r), 0);
    EXPECT_EQ(r.result, tolva::link_error::kTimeout);
}

TEST(CommModuleAddress, IsADecimalRegistryTextOfTheDevice) {
    EXPECT_FALSE(tolva::read_comm_module_address("TOLVA_2"));
    struct Case {
        const char* text;
        std::optional<uint8_t> address;
    };
    const Case cases[] = {{"9", 9},
                          {" 12", 12},
                          {"31abc", 31},
                          {"abc", std::nullopt},
                          {"-1", std::nullopt},
                          {"256", std::nullopt}};
    for (const auto& c : cases) {
        uint32_t type = kRegSz;
        uint32_t size = static_cast<uint32_t>(std::strlen(c.text) + 1);
        ASSERT_EQ(reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeySetValue,
                                         "TOLVA_2_CommModuleAddr", &type, const_cast<char*>(c.text), &size),
                  0);
        EXPECT_EQ(tolva::read_comm_module_address("TOLVA_2"), c.address) << c.text;
    }
}

}  // namespace
