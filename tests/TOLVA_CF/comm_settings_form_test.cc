#include "TOLVA_CF/logic/comm_settings_form.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using tolva::CommSettings;
using tolva::cf::CommSettingsForm;
namespace ctl = tolva::cf::comm_ctl;
using Ports = std::optional<std::vector<std::string>>;

CommSettings settings(const char* port, std::uint32_t baud) {
    CommSettings s{};
    std::strncpy(s.CommPort, port, sizeof s.CommPort);
    s.BaudRate = baud;
    s.ReadFirst = 1;
    s.MaxRetries = 4;
    s.MaxEnquires = 6;
    s.ReplyTimeout = 8;
    s.ReplyAck = 40;
    return s;
}

std::string selected_port(const CommSettingsForm& form) {
    return form.port_index() < 0 ? std::string()
                                 : form.port_names()[static_cast<std::size_t>(form.port_index())];
}

std::string stored_port(const CommSettings& s) {
    return std::string(tolva::comm_port(s));
}

TEST(CommSettingsForm, KeepsAPortTheMachineDoesNotReport) {
    const CommSettings stored = settings("COM9", 9600);
    CommSettingsForm form(1, stored, Ports{{"COM1", "COM2"}});
    EXPECT_EQ(form.port_names(), (std::vector<std::string>{"COM1", "COM2", "COM9"}));
    EXPECT_EQ(selected_port(form), "COM9");
    ASSERT_FALSE(form.accept());
    EXPECT_EQ(stored_port(form.result()), "COM9");
    EXPECT_FALSE(form.changed());
}

TEST(CommSettingsForm, MatchesTheWorkingPortWithoutCaseAndExactly) {
    CommSettingsForm form(1, settings("com1", 9600), Ports{{"COM10", "COM1", "COM2"}});
    EXPECT_EQ(form.port_names().size(), 3u);
    EXPECT_EQ(selected_port(form), "COM1");
    ASSERT_FALSE(form.accept());
    EXPECT_EQ(stored_port(form.result()), "COM1");
}

TEST(CommSettingsForm, OffersOnlyTheWorkingPortWhenTheServersPortsCannotBeRead) {
    CommSettingsForm form(1, settings("COM4", 9600), std::nullopt);
    EXPECT_EQ(form.port_names(), std::vector<std::string>{"COM4"});
    EXPECT_EQ(form.port_index(), 0);
}

TEST(CommSettingsForm, SkipsNamesTheFieldCannotHold) {
    CommSettingsForm form(1, settings("COM1", 9600), Ports{{"COM1", "", "TTYUSB10"}});
    EXPECT_EQ(form.port_names(), std::vector<std::string>{"COM1"});
}

// An empty port takes the application's default port, "COM" and the number, when it fits.
struct DefaultPortCase {
    int number;
    const char* port;  // "" = stays empty
};

void PrintTo(const DefaultPortCase& c, std::ostream* os) {
    *os << c.number;
}

class DefaultPort : public testing::TestWithParam<DefaultPortCase> {};

TEST_P(DefaultPort, FillsAnEmptyPortOnlyWhenTheNameFits) {
    const auto& c = GetParam();
    CommSettingsForm form(c.number, settings("", 9600), Ports{std::vector<std::string>{}});
    EXPECT_EQ(stored_port(form.working()), c.port);
    EXPECT_EQ(selected_port(form), c.port);
    ASSERT_FALSE(form.accept());
    EXPECT_EQ(stored_port(form.result()), c.port);
    EXPECT_EQ(form.changed(), *c.port != '\0');
}

INSTANTIATE_TEST_SUITE_P(Numbers, DefaultPort,
                         testing::Values(DefaultPortCase{1, "COM1"}, DefaultPortCase{3, "COM3"},
                                         DefaultPortCase{999, "COM999"}, DefaultPortCase{1000, ""},
                                         DefaultPortCase{65535, ""}));

TEST(CommSettingsForm, AddsAnUnlistedBaudRateAndSelectsIt) {
    CommSettingsForm form(1, settings("COM1", 57600), Ports{{"COM1"}});
    ASSERT_EQ(form.baud_names().size(), 9u);
    EXPECT_EQ(form.baud_names().back(), "57600");
    EXPECT_EQ(form.baud_index(), 8);
    ASSERT_FALSE(form.accept());
    EXPECT_EQ(form.result().BaudRate, 57600u);
    EXPECT_FALSE(form.changed());
}

TEST(CommSettingsForm, AZeroBaudRateIsAChangeTo19200) {
    CommSettingsForm form(1, settings("COM1", 0), Ports{{"COM1"}});
    EXPECT_EQ(form.baud_names().size(), 8u);
    EXPECT_EQ(form.baud_names()[static_cast<std::size_t>(form.baud_index())], "19200");
    ASSERT_FALSE(form.accept());
    EXPECT_EQ(form.result().BaudRate, 19200u);
    EXPECT_TRUE(form.changed());
}

TEST(CommSettingsForm, OkTakesEveryControl) {
    const CommSettings stored = settings("COM1", 9600);
    CommSettingsForm form(1, stored, Ports{{"COM1", "COM2"}});
    EXPECT_TRUE(form.read_first());
    EXPECT_FALSE(form.read_back());
    EXPECT_EQ(form.edit_text(ctl::kReplyTimeout), "8");
    EXPECT_EQ(form.edit_text(ctl::kReplyAck), "40");
    EXPECT_EQ(form.edit_text(ctl::kMaxRetries), "4");
    EXPECT_EQ(form.edit_text(ctl::kMaxEnquires), "6");

    form.choose_port(1);
    form.choose_baud(7);
    form.set_read_first(false);
    form.set_read_back(true);
    form.set_edit_text(ctl::kReplyTimeout, "2147483647");
    form.set_edit_text(ctl::kReplyAck, "0");
    form.set_edit_text(ctl::kMaxRetries, "4294967295");
    form.set_edit_text(ctl::kMaxEnquires, " 9 ");
    ASSERT_FALSE(form.accept());
    const CommSettings& r = form.result();
    EXPECT_EQ(stored_port(r), "COM2");
    EXPECT_EQ(r.BaudRate, 38400u);
    EXPECT_EQ(r.ReadFirst, 0);
    EXPECT_EQ(r.ReadBack, 1);
    EXPECT_EQ(r.ReplyTimeout, 2147483647u);
    EXPECT_EQ(r.ReplyAck, 0u);
    EXPECT_EQ(r.MaxRetries, 4294967295u);
    EXPECT_EQ(r.MaxEnquires, 9u);

    CommSettings target = stored;
    int modified = 0;
    EXPECT_TRUE(tolva::cf::commit_comm_settings(form, target, &modified));
    EXPECT_EQ(modified, 1);
    EXPECT_EQ(std::memcmp(&target, &r, sizeof target), 0);
}

TEST(CommSettingsForm, OkWithoutAChangeLeavesModifiedAlone) {
    CommSettings target = settings("COM2", 19200);
    CommSettingsForm form(1, target, Ports{{"COM1", "COM2"}});
    ASSERT_FALSE(form.accept());
    int modified = 5;
    EXPECT_FALSE(tolva::cf::commit_comm_settings(form, target, &modified));
    EXPECT_EQ(modified, 5);
}

// The time-outs are typed as signed numbers but stored unsigned: a negative one is refused.
struct NumberCase {
    int control_id;
    const char* text;
    const char* message;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << c.control_id << " \"" << c.text << "\"";
}

class NumberEdits : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberEdits, RefuseWhatTheFieldCannotHold) {
    const auto& c = GetParam();
    const CommSettings stored = settings("COM1", 9600);
    CommSettingsForm form(1, stored, Ports{{"COM1"}});
    form.set_edit_text(c.control_id, c.text);
    const auto refusal = form.accept();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->control_id, c.control_id);
    EXPECT_EQ(refusal->message, c.message);
    EXPECT_EQ(std::memcmp(&form.result(), &stored, sizeof stored), 0);
}

constexpr const char* kSignedRange = "Please enter an integer between 0 and 2147483647.";
constexpr const char* kUnsignedRange = "Please enter an integer between 0 and 4294967295.";

INSTANTIATE_TEST_SUITE_P(Fields, NumberEdits,
                         testing::Values(NumberCase{ctl::kReplyTimeout, "-5", kSignedRange},
                                         NumberCase{ctl::kReplyAck, "-1", kSignedRange},
                                         NumberCase{ctl::kReplyTimeout, "2147483648", kSignedRange},
                                         NumberCase{ctl::kMaxRetries, "-1", kUnsignedRange},
                                         NumberCase{ctl::kMaxEnquires, "4294967296", kUnsignedRange},
                                         NumberCase{ctl::kReplyAck, "20 chars", "Please enter an integer."}));

TEST(CommSettingsForm, ShowsStoredTimeOutsAsTheyAreAndRefusesThemUntilMended) {
    // A time-out written as -5 by an older editor reads as a number of many years.
    CommSettings stored = settings("COM1", 9600);
    stored.ReplyTimeout = 0xFFFFFFFBu;
    CommSettingsForm form(1, stored, Ports{{"COM1"}});
    EXPECT_EQ(form.edit_text(ctl::kReplyTimeout), "4294967291");
    ASSERT_TRUE(form.accept());
    form.set_edit_text(ctl::kReplyTimeout, "5");
    EXPECT_FALSE(form.accept());
}

}  // namespace
