// The configuration printout on the recording back end: every page as lines of text,
// compared with lines built from the printout's formats.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "TOLVA_CF/logic/line_printer.h"
#include "TOLVA_CF/logic/printout.h"
#include "TOLVA_CF/logic/printout_format.h"
#include "TOLVA_CF/logic/recording_print_target.h"
#include "platform/last_error.h"
#include "printout_pages.h"

namespace {

using namespace tolva_cf_test;
using qvr::AnalogFlag;
using qvr::ChannelRecord;
using qvr::DigitalFlag;
using tolva::cf::PrintAllRequest;
using tolva::cf::PrintKindRequest;
using tolva::cf::RecordingPrintTarget;

// Records of a configuration server, with a count of the reads made.
class FakeSource final : public tolva::cf::ConfigurationSource {
  public:
    int read_device_settings(std::string_view server, std::string_view device,
                             tolva::cf::StoredDeviceSettings& out) override {
        ++reads;
        last_server = server;
        last_device = device;
        if (fail) return platform::fail(platform::kErrorFileNotFound);
        out = settings;
        return 0;
    }
    int read_channels(std::string_view server, std::string_view device, int kind, int first_index,
                      std::span<ChannelRecord> out) override {
        ++reads;
        last_server = server;
        last_device = device;
        if (fail || kind < 0 || kind >= 5) return platform::fail(platform::kErrorFileNotFound);
        const auto& table = tables[static_cast<std::size_t>(kind)];
        if (first_index < 0 || static_cast<std::size_t>(first_index) + out.size() > table.size()) {
            return platform::fail(platform::kErrorHandleEof);
        }
        std::copy_n(table.begin() + first_index, out.size(), out.begin());
        return 0;
    }

    tolva::cf::StoredDeviceSettings settings;
    std::vector<ChannelRecord> tables[5];
    bool fail = false;
    int reads = 0;
    std::string last_server;
    std::string last_device;
};

tolva::DeviceConfigRecord config_record() {
    tolva::DeviceConfigRecord config{};
    config.ScanRate = 1500;
    config.Comm.BaudRate = 9600;
    std::memcpy(config.Comm.CommPort, "COM2", 4);
    config.Comm.ReadFirst = 1;
    config.Comm.ReplyTimeout = 5;
    config.Comm.ReplyAck = 20;
    config.Comm.MaxRetries = 3;
    config.Comm.MaxEnquires = 4;
    return config;
}

Page device_block(const char* status, bool autosave) {
    Page page{fmt("        SERVER NAME    [%s]", "PLANT1"), fmt("        %-14s [%s]", "DEVICE NAME", "PRESS_LINE"),
              fmt("        STATUS         [%s]", status)};
    std::string line = fmt("        AUTOSAVE       [%s]", autosave ? "Y" : "N");
    if (autosave) {
        line += fmt("                    BY TAG  [%s]       SAVE RATE %02d(min) %02d(sec) %03d(ms)", "Y", 2, 5, 250);
    }
    append(page, {line, "", ""});
    return page;
}

Page settings_lines(const char* port, int baud) {
    return {fmt("        SCAN RATE %02d(min) %02d(sec) %03d(ms)", 0, 1, 500),
            "",
            "COMMUNICATION SETTINGS:",
            fmt("        PORT [%-6.6s]                      BAUD RATE [%-6d]", port, baud),
            fmt("        WAIT REPLY TIMEOUT (SEC)                     %-3d", 5),
            fmt("        WAIT ACKNOWLEDGEMENT TIMEOUT (CHARS)         %-3d", 20),
            fmt("        MAXIMUM NUMBER OF RETRIES (SEC)              %-3d", 3),
            fmt("        MAXIMUM NUMBER OF ENQUIRES (SEC)             %-3d", 4),
            "",
            "OUTPUT SCAN OPTIONS:",
            fmt("        READ OUTPUTS FROM DEVICE ON FIRST SCAN       [%s]", "Y"),
            fmt("        READ OUTPUTS BACK FROM DEVICE IF NOT WRITING [%s]", "N")};
}

int print_all(RecordingPrintTarget& printer, const PrintAllRequest& request,
              tolva::cf::ConfigurationSource& source) {
    return tolva::cf::print_all_config(printer.target(), request, source);
}

int print_kind(RecordingPrintTarget& printer, const tolva::HostDeviceRecord& device, int kind, int first, int last,
               const ChannelRecord* records, tolva::cf::ConfigurationSource& source) {
    return tolva::cf::print_kind_config(printer.target(), {"PLANT1", &device, kind, first, last, records}, source);
}

void expect_clean(const RecordingPrintTarget& printer) {
    EXPECT_EQ(printer.open_pages, 0) << "a page was left open";
    EXPECT_FALSE(printer.misplaced_text);
}

// ---- Device block and settings ----

struct DeviceBlockCase {
    bool autosave;
    int status;
    const char* status_text;
};

class PrintoutDeviceBlock : public testing::TestWithParam<DeviceBlockCase> {};

TEST_P(PrintoutDeviceBlock, ShowsServerDeviceStatusAutosaveAndSettings) {
    const auto& c = GetParam();
    const auto device = host_device();
    const auto config = config_record();
    FakeSource source;
    RecordingPrintTarget printer;
    ASSERT_EQ(print_all(printer, {"PLANT1", &device, c.status, c.autosave, true, 125'250, &config, nullptr}, source),
              0);
    Page expected = device_block(c.status_text, c.autosave);
    append(expected, settings_lines("COM2", 9600));
    EXPECT_EQ(printer.pages, Pages{expected});
    EXPECT_EQ(source.reads, 0);
    expect_clean(printer);
}

INSTANTIATE_TEST_SUITE_P(Cases, PrintoutDeviceBlock,
                         testing::Values(DeviceBlockCase{true, 1, "ENABLED "}, DeviceBlockCase{false, 0, "DISABLED"},
                                         // Any status other than 0 is enabled.
                                         DeviceBlockCase{false, 7, "ENABLED "},
                                         DeviceBlockCase{true, -1, "ENABLED "}));

TEST(PrintoutSettings, EmptyPortAndZeroBaudShowTheDefaultsWithoutChangingTheRecord) {
    const auto device = host_device(7);
    auto config = config_record();
    std::memset(config.Comm.CommPort, 0, sizeof config.Comm.CommPort);
    config.Comm.BaudRate = 0;
    config.Reserved32[0] = 0x5A;
    const auto before = config;
    FakeSource source;
    RecordingPrintTarget printer;
    ASSERT_EQ(print_all(printer, {"PLANT1", &device, 1, false, false, 0, &config, nullptr}, source), 0);
    ASSERT_EQ(printer.pages.size(), 1u);
    const Page& page = printer.pages[0];
    ASSERT_GT(page.size(), 9u);
    EXPECT_EQ(page[9], fmt("        PORT [%-6.6s]                      BAUD RATE [%-6d]", "COM7", 19200));
    EXPECT_EQ(std::memcmp(&before, &config, sizeof config), 0) << "the caller's record was changed";
}

TEST(PrintoutSettings, PortNameWiderThanItsColumnIsShownWhole) {
    struct Case {
        const char* stored;
        std::uint16_t port_number;
        const char* shown;
    };
    for (const Case& c : {Case{"", 65535, "COM65535"}, Case{"", 10, "COM10"}, Case{"COM123", 1, "COM123"},
                          Case{"TTY\x01" "AB", 1, "TTY AB"}}) {
        SCOPED_TRACE(c.shown);
        const auto device = host_device(c.port_number);
        auto config = config_record();
        std::memset(config.Comm.CommPort, 0, sizeof config.Comm.CommPort);
        std::memcpy(config.Comm.CommPort, c.stored, std::strlen(c.stored));
        FakeSource source;
        RecordingPrintTarget printer;
        ASSERT_EQ(print_all(printer, {"PLANT1", &device, 1, false, false, 0, &config, nullptr}, source), 0);
        ASSERT_EQ(printer.pages.size(), 1u);
        EXPECT_EQ(printer.pages[0].at(9),
                  fmt("        PORT [%-6s]                      BAUD RATE [%-6d]", c.shown, 9600));
    }
}

TEST(PrintoutSettings, ConfigurationAndAutosaveFromTheServerWhenNoRecordIsGiven) {
    const auto device = host_device();
    FakeSource source;
    source.settings.auto_enable = 1;
    source.settings.config = config_record();
    source.settings.save_outputs = 1;
    source.settings.save_by_tag = 1;
    source.settings.save_rate = 125'250;
    RecordingPrintTarget printer;
    // The caller's status and autosave values give way to the server's.
    ASSERT_EQ(print_all(printer, {"PLANT1", &device, 0, false, false, 0, nullptr, nullptr}, source), 0);
    Page expected = device_block("ENABLED ", true);
    append(expected, settings_lines("COM2", 9600));
    EXPECT_EQ(printer.pages, Pages{expected});
    EXPECT_EQ(source.last_server, "PLANT1");
    EXPECT_EQ(source.last_device, "PRESS_LINE");
}

TEST(PrintoutSettings, FailedServerReadPrintsNothing) {
    auto device = host_device();
    set_kind(device, 0, "A1", 2);
    FakeSource source;
    source.fail = true;
    RecordingPrintTarget printer;
    EXPECT_EQ(print_all(printer, {"PLANT1", &device, 0, false, false, 0, nullptr, nullptr}, source), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
    EXPECT_TRUE(printer.pages.empty());

    const auto config = config_record();
    RecordingPrintTarget listing;
    EXPECT_EQ(print_all(listing, {"PLANT1", &device, 0, false, false, 0, &config, nullptr}, source), -1);
    EXPECT_TRUE(listing.pages.empty());
    EXPECT_EQ(print_kind(listing, device, 0, 1, 2, nullptr, source), -1);
}

// ---- Limits ----

TEST(PrintoutLimits, EveryLimitFitsEightColumns) {
    struct Case {
        float value;
        const char* text;
    };
    const float inf = std::numeric_limits<float>::infinity();
    for (const Case& c : {Case{0.5f, "0.500000"}, Case{1234567.5f, " 1234568"}, Case{1e12f, "1.00e+12"},
                          Case{-1e12f, "-1.0e+12"}, Case{-0.5f, "-0.50000"}, Case{12345678.0f, "12345678"},
                          Case{123456792.0f, "1.23e+08"}, Case{3.4e38f, "3.40e+38"}, Case{-3.4e38f, "-3.4e+38"},
                          Case{0.0f, "0.000000"}, Case{1e-20f, "0.000000"}, Case{std::nanf(""), "     nan"},
                          Case{inf, "     inf"}, Case{-inf, "    -inf"}}) {
        EXPECT_EQ(tolva::cf::limit_text(c.value), c.text) << c.value;
    }
}

TEST(PrintoutLimits, NumbersIgnoreTheProgramsLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no German locale";
    const std::string text = tolva::cf::limit_text(0.5f);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(text, "0.500000");
}

TEST(PrintoutLimits, PeriodsSplitIntoMinutesSecondsMilliseconds) {
    EXPECT_EQ(tolva::cf::period_text(1500), "00(min) 01(sec) 500(ms)");
    EXPECT_EQ(tolva::cf::period_text(125'250), "02(min) 05(sec) 250(ms)");
    EXPECT_EQ(tolva::cf::period_text(4'000'000'000u), "99(min) 40(sec) 000(ms)");
}

// ---- Analog listing ----

ChannelRecord every_option_on() {
    ChannelRecord r{};
    r.head.Type = qvr::ChannelKind::AI;
    chanrec_SetTag(&r, "FLOW_TOTAL_0001");
    chanrec_SetDescription(&r, "Total flow");
    chanrec_SetUnits(&r, "m3/h");
    for (auto flag : {AnalogFlag::Enable, AnalogFlag::EventEnable, AnalogFlag::HighAlarmEnable,
                      AnalogFlag::HighAlarmDeadbandEnable, AnalogFlag::HighAlarmDriveCommon, AnalogFlag::LowAlarmEnable,
                      AnalogFlag::LowAlarmDeadbandEnable, AnalogFlag::LowAlarmDriveCommon, AnalogFlag::SigChangeEnable,
                      AnalogFlag::ReferenceEnable, AnalogFlag::ScalingEnable, AnalogFlag::HighWarningEnable,
                      AnalogFlag::LowWarningEnable}) {
        r.head.Flags.set(flag, true);
    }
    auto& a = r.analog;
    a.LowEventLimit = 0.5f;
    a.HighEventLimit = 1234567.5f;
    a.LowAlarmLimit = 0.5f;
    a.LowWarningLimit = 1234567.5f;
    a.LowAlarmDeadband = 1.0f;
    a.LowAlarmPriority = 12;
    a.LowAlarmDelay = 300;
    std::snprintf(a.LowAlarmText, sizeof a.LowAlarmText, "LOW FLOW");
    a.HighAlarmLimit = 1e12f;
    a.HighWarningLimit = 2.25f;
    a.HighAlarmDeadband = 0.25f;
    a.HighAlarmPriority = 200;
    a.HighAlarmDelay = 65535;
    std::snprintf(a.HighAlarmText, sizeof a.HighAlarmText, "HIGH FLOW");
    a.SigChangeValue = 0.5f;
    set_hw(r, hw_address(5, 9, 3, 7, -1, -1, 7));  // W3:7
    return r;
}

Page every_option_on_lines(const char* name) {
    const std::string column1 = fmt(" %-3d ", 5) + fmt("%-4d    ", 7);
    const std::string line1 = fmt("%-7.7s [", name) + fmt("%s] ", "Y") + fmt("%-15.15s      ", "FLOW_TOTAL_0001") +
                              fmt("%-8.8s   ", "m3/h") + fmt("%s %s ", column1.c_str(), "Y") + "0.500000" +
                              fmt(" %s ", "Y") + fmt("%s %s %s ", "Y", "0.500000", "Y") + fmt("%s ", " 1234568") +
                              fmt("%s ", "Y") + fmt("%s ", "0.500000") +
                              fmt("%-3d %-4d %-32.32s", 12, 300, "LOW FLOW") + fmt(" [%s]     ", "Y");
    const std::string line2 = fmt("            %-32.32s%s   ", "Total flow", (fmt(" (%s) ", "W") + blanks(8)).c_str()) +
                              " 1234568" + fmt(" %s ", "Y") + fmt("%s %s %s ", "Y", "1.00e+12", "Y") +
                              fmt("%s ", "2.250000") + fmt("%s ", "Y") + fmt("%s ", "1.00e+12") +
                              fmt("%-3d %-4d %-32.32s", 200, 65535, "HIGH FLOW") + fmt(" %s", "0.500000");
    return {line1, line2};
}

TEST(PrintoutAnalog, EveryOptionOnAndEveryOptionOff) {
    auto device = host_device();
    set_kind(device, 0, "A1", 3);
    const ChannelRecord records[3] = {plain_analog("LEVEL_1"), every_option_on(), plain_analog("LEVEL_3")};
    FakeSource source;
    RecordingPrintTarget printer;
    ASSERT_EQ(print_kind(printer, device, 0, 0, 0, records, source), 0);
    Page expected = analog_heading();
    append(expected, plain_analog_lines("A11", "LEVEL_1"));
    append(expected, every_option_on_lines("A12"));
    append(expected, plain_analog_lines("A13", "LEVEL_3"));
    EXPECT_EQ(printer.pages, Pages{expected});
    expect_clean(printer);
    for (const auto& line : printer.pages.at(0)) EXPECT_LE(line.size(), tolva::cf::kMaxPrintoutLine);
}

struct AddressCase {
    const char* what;
    tolva::ChannelHwRecord hw;
    std::string column1;
    std::string column2;
};

class PrintoutAnalogAddress : public testing::TestWithParam<AddressCase> {};

TEST_P(PrintoutAnalogAddress, ColumnsShowTypeLetterElementAndSubElement) {
    const auto& c = GetParam();
    auto device = host_device();
    set_kind(device, 2, "B2", 1);
    ChannelRecord record = plain_analog("OUT");
    record.head.Type = qvr::ChannelKind::AO;
    set_hw(record, c.hw);
    FakeSource source;
    RecordingPrintTarget printer;
    ASSERT_EQ(print_kind(printer, device, 2, 1, 1, &record, source), 0);
    ASSERT_EQ(printer.pages.size(), 1u);
    const Page& page = printer.pages[0];
    ASSERT_EQ(page.size(), 5u);
    EXPECT_EQ(page[3], fmt("%-7.7s [", "B21") + fmt("%s] ", "Y") + fmt("%-15.15s      ", "OUT") + fmt("%-8.8s   ", "m") +
                           fmt("%s %s ", c.column1.c_str(), "N") + blanks(8) + fmt(" %s ", "N") + blanks(74) +
                           fmt(" [%s]     ", "N"));
    EXPECT_EQ(page[4], fmt("            %-32.32s%s   ", "Level", c.column2.c_str()) + blanks(8) + fmt(" %s ", "N") +
                           blanks(74) + blanks(9));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrintoutAnalogAddress,
    testing::Values(
        AddressCase{"word", hw_address(5, 9, 3, 7, -1, -1, 7), fmt(" %-3d ", 5) + fmt("%-4d    ", 7),
                    fmt(" (%s) ", "W") + blanks(8)},
        AddressCase{"output", hw_address(1, 0, 0, 0, 3, -1, 2), fmt(" %-3d ", 1) + fmt("%-4d    ", 2),
                    fmt(" (%s) ", "O") + fmt("%-6d  ", 3)},
        AddressCase{"status", hw_address(1, 2, 2, 4, -1, -1, 4), fmt(" %-3d ", 1) + fmt("%-4d    ", 4),
                    fmt(" (%s) ", "S")},
        AddressCase{"timer", hw_address(1, 4, 4, 3, -1, 1, 3), fmt(" %-3d ", 1) + fmt("%-4d    ", 3),
                    fmt(" (%s) ", "T") + fmt("%-3s     ", "ACC")},
        AddressCase{"counter", hw_address(31, 5, 5, 0, -1, 7, 0), fmt(" %-3d ", 31) + fmt("%-4d    ", 0),
                    fmt(" (%s) ", "C") + fmt("%-3s     ", "CU")},
        AddressCase{"control", hw_address(0, 6, 6, 1, -1, 9, 1), fmt(" %-3d ", 0) + fmt("%-4d    ", 1),
                    fmt(" (%s) ", "R") + fmt("%-3s     ", "EN")},
        AddressCase{"float", hw_address(2, 8, 8, 255, -1, -1, 255), fmt(" %-3d ", 2) + fmt("%-4d    ", 255),
                    fmt(" (%s) ", "F") + blanks(8)},
        // Lookups outside their tables print blanks.
        AddressCase{"timer_mnemonic_5", hw_address(1, 4, 4, 3, -1, 5, 3), fmt(" %-3d ", 1) + fmt("%-4d    ", 3),
                    fmt(" (%s) ", "T") + fmt("%-3s     ", "")},
        AddressCase{"counter_mnemonic_-1", hw_address(1, 5, 5, 3, -1, -1, 3), fmt(" %-3d ", 1) + fmt("%-4d    ", 3),
                    fmt(" (%s) ", "C") + fmt("%-3s     ", "")},
        AddressCase{"control_mnemonic_10", hw_address(1, 6, 6, 3, -1, 10, 3), fmt(" %-3d ", 1) + fmt("%-4d    ", 3),
                    fmt(" (%s) ", "R") + fmt("%-3s     ", "")},
        AddressCase{"type_12", hw_address(1, 12, 12, 3, 4, -1, 3), fmt(" %-3d ", 1), fmt(" (%s) ", " ") + fmt("%-6d  ", 4)},
        AddressCase{"type_user", hw_address(1, -1, 0, 3, 4, -1, 3), fmt(" %-3d ", 1),
                    fmt(" (%s) ", " ") + fmt("%-6d  ", 4)}),
    [](const testing::TestParamInfo<AddressCase>& param_info) {
        std::string name = param_info.param.what;
        for (char& ch : name) {
            if (ch == '-') ch = 'm';
        }
        return name;
    });

// ---- Digital listing ----

TEST(PrintoutDigital, ListingShowsStatesEventAndAlarm) {
    auto device = host_device();
    set_kind(device, 1, "D1", 3);
    ChannelRecord records[3] = {digital_channel("DOOR_1"), digital_channel("DOOR_2", false), digital_channel("DOOR_3")};
    auto& alarmed = records[2];
    alarmed.head.Flags.set(DigitalFlag::EventEnable, true);
    alarmed.head.Flags.set(DigitalFlag::EventState, true);
    alarmed.head.Flags.set(DigitalFlag::AlarmEnable, true);
    alarmed.head.Flags.set(DigitalFlag::AlarmState, false);
    alarmed.head.Flags.set(DigitalFlag::AlarmDriveCommon, true);
    alarmed.digital.AlarmPriority = 9;
    alarmed.digital.AlarmDelay = 15;
    std::snprintf(alarmed.digital.AlarmText, sizeof alarmed.digital.AlarmText, "DOOR LEFT OPEN");
    set_hw(alarmed, hw_address(6, 1, 1, 0, 11, -1, 3));  // I1, slot 3, bit 11

    FakeSource source;
    RecordingPrintTarget printer;
    ASSERT_EQ(print_kind(printer, device, 1, 0, 0, records, source), 0);

    const std::string binary1 = fmt(" %-3d ", 4) + fmt("%-4d    ", 12);
    const std::string binary2 = fmt(" (%s) ", "B") + fmt("%-6d  ", 5);
    const std::string input1 = fmt(" %-3d ", 6) + fmt("%-4d    ", 3);
    const std::string input2 = fmt(" (%s) ", "I") + fmt("%-6d  ", 11);
    Page expected = digital_heading();
    append(expected,
           {fmt("%-7.7s [", "D11") + "Y" + "] " + fmt("%-15.15s ", "DOOR_1") + blanks(20) + fmt(" %-32.32s", "SHUT") +
                fmt("%s ", binary1.c_str()) + "[DISB] " + "[DISB] ",
            fmt("            %-32.32s ", "Door switch") + fmt(" %-32.32s%s", "OPEN", binary2.c_str()),
            fmt("%-7.7s [", "D13") + "Y" + "] " + fmt("%-15.15s ", "DOOR_3") + blanks(20) + fmt(" %-32.32s", "SHUT") +
                fmt("%s ", input1.c_str()) + fmt("[%s] ", "HIGH") +
                fmt("[%s] [%s] %-3d %-4d %-32.32s", "LOW ", "Y", 9, 15, "DOOR LEFT OPEN"),
            fmt("            %-32.32s ", "Door switch") + fmt(" %-32.32s%s", "OPEN", input2.c_str())});
    EXPECT_EQ(printer.pages, Pages{expected});
    expect_clean(printer);
}

// ---- Pages ----

TEST(PrintoutPages, BreakAtTheChosenHeightWithAHeadingOnEachPage) {
    auto device = host_device();
    set_kind(device, 0, "A1", 9);
    std::vector<ChannelRecord> records;
    for (int i = 1; i <= 9; ++i) records.push_back(plain_analog(fmt("T%d", i).c_str(), i != 4 && i != 5));
    FakeSource source;
    RecordingPrintTarget printer(9);  // a heading and three channels
    ASSERT_EQ(print_kind(printer, device, 0, 0, 0, records.data(), source), 0);

    Pages expected(3, analog_heading());
    for (int i : {1, 2, 3}) append(expected[0], plain_analog_lines(fmt("A1%d", i).c_str(), fmt("T%d", i).c_str()));
    for (int i : {6, 7, 8}) append(expected[1], plain_analog_lines(fmt("A1%d", i).c_str(), fmt("T%d", i).c_str()));
    append(expected[2], plain_analog_lines("A19", "T9"));
    EXPECT_EQ(printer.pages, expected);
    expect_clean(printer);
}

TEST(PrintoutPages, AChannelNeverSpillsBelowThePage) {
    auto device = host_device();
    set_kind(device, 0, "A1", 3);
    const ChannelRecord records[3] = {plain_analog("T1"), plain_analog("T2"), plain_analog("T3")};
    FakeSource source;
    RecordingPrintTarget printer(8);  // a heading, two channels and one spare line
    ASSERT_EQ(print_kind(printer, device, 0, 0, 0, records, source), 0);
    ASSERT_EQ(printer.pages.size(), 2u);
    EXPECT_EQ(printer.pages[0].size(), 7u);
    EXPECT_EQ(printer.pages[1].size(), 5u);
    for (const auto& page : printer.pages) EXPECT_EQ(page[0], analog_heading()[0]);
}

TEST(PrintoutPages, AllDisabledRangeIsOneLineWithoutAFormFeed) {
    auto device = host_device();
    set_kind(device, 0, "A1", 3);
    set_kind(device, 1, "D1", 1);
    const ChannelRecord analog[3] = {plain_analog("T1", false), plain_analog("T2", false), plain_analog("T3", false)};
    const ChannelRecord digital[1] = {digital_channel("DOOR_1")};
    const ChannelRecord* tables[5] = {analog, digital, nullptr, nullptr, nullptr};
    const auto config = config_record();
    FakeSource source;
    RecordingPrintTarget printer;
    ASSERT_EQ(print_all(printer, {"PLANT1", &device, 1, false, false, 0, &config, tables}, source), 0);
    ASSERT_EQ(printer.pages.size(), 1u);  // the digital listing follows on the same page
    const Page& page = printer.pages[0];
    ASSERT_EQ(page.size(), 19u + 1u + 3u + 2u);
    EXPECT_EQ(page[19], "CHANNELS A11 - A13 DISABLED");
    EXPECT_EQ(page[20], digital_heading()[0]);
    EXPECT_EQ(source.reads, 0);
    expect_clean(printer);

    RecordingPrintTarget alone;
    ASSERT_EQ(print_kind(alone, device, 0, 1, 3, analog, source), 0);
    EXPECT_EQ(alone.pages, (Pages{{"CHANNELS A11 - A13 DISABLED"}}));
    expect_clean(alone);
}

TEST(PrintoutPages, DisabledRangesOnAFullPageGoOnTheNextPage) {
    auto device = host_device();
    set_kind(device, 0, "A1", 1);
    set_kind(device, 1, "D1", 1);
    set_kind(device, 2, "A2", 1);
    const ChannelRecord analog[1] = {plain_analog("T1", false)};
    const ChannelRecord digital[1] = {digital_channel("DOOR_1", false)};
    const ChannelRecord* tables[5] = {analog, digital, analog, nullptr, nullptr};
    const auto config = config_record();
    FakeSource source;
    RecordingPrintTarget printer(20);  // the device block leaves one line
    ASSERT_EQ(print_all(printer, {"PLANT1", &device, 1, false, false, 0, &config, tables}, source), 0);
    ASSERT_EQ(printer.pages.size(), 2u);
    EXPECT_EQ(printer.pages[0].size(), 20u);
    EXPECT_EQ(printer.pages[0][19], "CHANNELS A11 - A11 DISABLED");
    EXPECT_EQ(printer.pages[1], (Page{"CHANNELS D11 - D11 DISABLED", "CHANNELS A21 - A21 DISABLED"}));
    expect_clean(printer);
}

TEST(PrintoutPages, ListingWithoutRoomAfterTheDeviceBlockStartsOnTheNextPage) {
    auto device = host_device();
    set_kind(device, 0, "A1", 1);
    const ChannelRecord analog[1] = {plain_analog("T1")};
    const ChannelRecord* tables[5] = {analog, nullptr, nullptr, nullptr, nullptr};
    const auto config = config_record();
    FakeSource source;
    RecordingPrintTarget printer(22);  // the device block leaves three lines
    ASSERT_EQ(print_all(printer, {"PLANT1", &device, 1, false, false, 0, &config, tables}, source), 0);
    ASSERT_EQ(printer.pages.size(), 2u);
    Page second = analog_heading();
    append(second, plain_analog_lines("A11", "T1"));
    EXPECT_EQ(printer.pages[1], second);
    expect_clean(printer);
}

TEST(PrintoutPages, EveryKindOfTheDeviceStartsItsOwnPage) {
    auto device = host_device();
    set_kind(device, 0, "A1", 1);
    set_kind(device, 1, "D1", 1);
    set_kind(device, 3, "D3", 0);  // an empty table lists nothing
    FakeSource source;
    source.tables[0] = {plain_analog("T1")};
    source.tables[1] = {digital_channel("DOOR_1")};
    const auto config = config_record();
    RecordingPrintTarget printer;
    ASSERT_EQ(print_all(printer, {"PLANT1", &device, 1, false, false, 0, &config, nullptr}, source), 0);
    ASSERT_EQ(printer.pages.size(), 2u);
    EXPECT_EQ(printer.pages[0].at(19), analog_heading()[0]);
    EXPECT_EQ(printer.pages[1][0], digital_heading()[0]);
    EXPECT_EQ(source.reads, 2);
    expect_clean(printer);
}

// ---- Ranges and the job ----

TEST(PrintoutKind, RangesOutsideTheTableAreRefused) {
    auto device = host_device();
    set_kind(device, 0, "A1", 3);
    const ChannelRecord records[3] = {plain_analog("T1"), plain_analog("T2"), plain_analog("T3")};
    struct Case {
        int kind, first, last, result, pages;
    };
    for (const Case& c : {Case{0, 0, 0, 0, 1}, Case{0, 2, 0, 0, 1}, Case{0, 3, 3, 0, 1}, Case{0, 3, 2, -1, 0},
                          Case{0, 1, 4, -1, 0}, Case{0, -1, 2, -1, 0}, Case{1, 0, 0, -1, 0}, Case{5, 0, 0, -1, 0},
                          Case{-1, 0, 0, -1, 0}}) {
        SCOPED_TRACE(fmt("kind %d first %d last %d", c.kind, c.first, c.last));
        FakeSource source;
        RecordingPrintTarget printer;
        EXPECT_EQ(print_kind(printer, device, c.kind, c.first, c.last, records, source), c.result);
        EXPECT_EQ(static_cast<int>(printer.pages.size()), c.pages);
        if (c.result < 0) {
            EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
        }
    }
}

TEST(PrintoutKind, ChannelsFromTheServerWhenNoRecordsAreGiven) {
    auto device = host_device();
    set_kind(device, 0, "A1", 4);
    FakeSource source;
    source.tables[0] = {plain_analog("T1"), plain_analog("T2"), plain_analog("T3"), plain_analog("T4")};
    RecordingPrintTarget printer;
    ASSERT_EQ(print_kind(printer, device, 0, 2, 3, nullptr, source), 0);
    Page expected = analog_heading();
    append(expected, plain_analog_lines("A12", "T2"));
    append(expected, plain_analog_lines("A13", "T3"));
    EXPECT_EQ(printer.pages, Pages{expected});
    EXPECT_EQ(source.last_device, "PRESS_LINE");
}

TEST(PrintoutJob, PagesTooShortForAHeadingAndAChannelAreRefused) {
    auto device = host_device();
    set_kind(device, 0, "A1", 2);
    const ChannelRecord records[2] = {plain_analog("T1"), plain_analog("T2")};
    FakeSource source;
    for (int lines : {0, 1, 4}) {
        RecordingPrintTarget printer(lines);
        EXPECT_EQ(print_kind(printer, device, 0, 0, 0, records, source), -1) << lines;
        EXPECT_TRUE(printer.pages.empty());
    }
    RecordingPrintTarget no_height;
    no_height.target().char_height = 0;
    EXPECT_EQ(print_kind(no_height, device, 0, 0, 0, records, source), -1);
    EXPECT_TRUE(no_height.pages.empty());

    RecordingPrintTarget smallest(5);
    ASSERT_EQ(print_kind(smallest, device, 0, 0, 0, records, source), 0);
    EXPECT_EQ(smallest.pages.size(), 2u);  // one enabled channel per page, never "DISABLED"
    for (const auto& page : smallest.pages) EXPECT_EQ(page.size(), 5u);
}

TEST(PrintoutJob, FailedPageStartOrEndStopsTheJobAndLeavesNothingForTheNext) {
    auto device = host_device();
    set_kind(device, 0, "A1", 6);
    std::vector<ChannelRecord> records;
    for (int i = 1; i <= 6; ++i) records.push_back(plain_analog(fmt("T%d", i).c_str()));
    FakeSource source;

    RecordingPrintTarget failing_start(7);  // two channels a page
    failing_start.fail_start_of_page = 1;
    EXPECT_EQ(print_kind(failing_start, device, 0, 0, 0, records.data(), source), -1);
    EXPECT_EQ(failing_start.pages.size(), 1u);

    RecordingPrintTarget failing_end(7);
    failing_end.fail_end_of_page = 0;
    EXPECT_EQ(print_kind(failing_end, device, 0, 0, 0, records.data(), source), -1);
    EXPECT_EQ(failing_end.pages.size(), 1u);

    RecordingPrintTarget next(7);
    ASSERT_EQ(print_kind(next, device, 0, 4, 4, records.data(), source), 0);
    Page expected = analog_heading();
    append(expected, plain_analog_lines("A14", "T4"));
    EXPECT_EQ(next.pages, Pages{expected});
    expect_clean(next);
}

TEST(PrintoutText, ControlCharactersInRecordTextsCannotBreakLinesOrPages) {
    auto device = host_device();
    set_kind(device, 0, "A1", 1);
    ChannelRecord record = plain_analog("A\nB\fC");
    FakeSource source;
    RecordingPrintTarget printer;
    ASSERT_EQ(print_kind(printer, device, 0, 0, 0, &record, source), 0);
    Page expected = analog_heading();
    append(expected, plain_analog_lines("A11", "A B C"));
    EXPECT_EQ(printer.pages, Pages{expected});
}

// ---- The line printer ----

TEST(PrintoutLinePrinter, DrawsLinesAtTheirPlacesAndEndsPagesAtFormFeeds) {
    RecordingPrintTarget printer(10);
    tolva::cf::LinePrinter lines(printer.target());
    EXPECT_EQ(lines.lines_per_page(), 10);
    ASSERT_EQ(lines.print("one\n\nth"), 0);
    ASSERT_EQ(lines.print("ree\n\f\f"), 0);  // a form feed on an empty page prints no page
    ASSERT_EQ(lines.print("four\nfive"), 0);
    ASSERT_EQ(lines.finish(), 0);
    EXPECT_EQ(printer.pages, (Pages{{"one", "", "three"}, {"four", "five"}}));
    expect_clean(printer);
}

}  // namespace
