// Logger lists from the server and from LOGCAP.TXT, and the loggers disabled and enabled
// again around processor and device control.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/last_error.h"
#include "platform/registry_key.h"
#include "qvr/requests/list_file.h"
#include "qvr/requests/logger_requests.h"
#include "qvr/requests/processor_requests.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/sink_testing.h"
#include "requests_fixture.h"

namespace {

using requests_test::bytes;
using requests_test::RequestTest;

class Loggers : public RequestTest {
  protected:
    void SetUp() override {
        RequestTest::SetUp();
        previous_ = qvr::set_sink_capture([this](const qvr::SinkEntry& e) { reports_.push_back(e.message); });
    }
    void TearDown() override {
        qvr::set_sink_capture(previous_);
        qvr::set_yes_no_question(nullptr);
        RequestTest::TearDown();
    }
    void write_record(const std::string& file, const std::string& description) {
        std::string record(1, '\x01');
        record += description;
        record.resize(200, '\0');
        write_config("LOGGERS/" + file, record);
    }
    std::vector<std::string> reports_;
    std::function<void(const qvr::SinkEntry&)> previous_;
};

TEST_F(Loggers, LogcapIsReadWhenTheServerFails) {
    write_config("LOGGERS/LOGCAP.TXT", "* loggers\n\nSTAND,x\nrepub\n");
    write_record("stand_1", "Boiler house");
    write_record("repub_2", std::string(30, 'r'));
    fail_once("QL");
    EXPECT_EQ(CountLoggers("."), 2);
    fail_once("QL");
    fail_once("IL");
    LoggerInfoRecord r[4];
    ASSERT_EQ(GetLoggerInfo(".", "*,4", r, 4), 2);
    EXPECT_STREQ(r[0].kind, "stand");  // lower case
    EXPECT_EQ(+r[0].number, 1);
    EXPECT_STREQ(r[0].description, "Boiler house");
    EXPECT_EQ(+r[1].number, 2);
    EXPECT_EQ(std::string(r[1].description), std::string(24, 'r'));  // characters 2 to 25
    fail_once("IL");
    ASSERT_EQ(GetLoggerInfo(".", "REPUB", r, 1), 1);
    EXPECT_EQ(+r[0].number, 2);
    EXPECT_TRUE(reports_.empty());
}

TEST_F(Loggers, ThreeHundredLoggersAreNotAskedForButReadFromLogcap) {
    write_config("LOGGERS/LOGCAP.TXT", "stand\nresub\n");
    std::vector<LoggerInfoRecord> r(300);
    fail_once("QL");
    EXPECT_EQ(GetLoggerInfo(".", "*,300", r.data(), 300), 2);
    EXPECT_EQ(server().codes(), std::vector<std::string>{"QL"});
}

TEST_F(Loggers, LogcapLinesAreChecked) {
    struct Case {
        const char* lines;
        const char* message;
        int line;
        const char* text;
    };
    for (const Case& c : {Case{"stand\n* c\n,x\n", "no logger name specified", 3, ",x"},
                          Case{"\nstandardxx\n", "logger type name too long", 2, "standardxx"}}) {
        reports_.clear();
        write_config("LOGGERS/LOGCAP.TXT", c.lines);
        fail_once("IL");
        LoggerInfoRecord r[4];
        EXPECT_EQ(GetLoggerInfo(".", "3", r, 1), -2);
        ASSERT_EQ(reports_.size(), 1u);
        EXPECT_EQ(reports_[0], "Can't Parse " + config_folder() + "/LOGGERS/LOGCAP.TXT\nLine " +
                                   std::to_string(c.line) + " : **** " + c.message + " ****\n" + c.text +
                                   "\nError : -2\n");
    }
}

TEST_F(Loggers, NamesAndStates) {
    {
        auto t = server().tables.lock();
        t->loggers.push_back({"stand", 1, "d", "Boiler"});
        t->loggers.push_back({"stand", 2, "d", "Turbine", false});
    }
    char name[8] = "stale";
    EXPECT_EQ(GetLoggerName(".", 2, name, sizeof name), 1);
    EXPECT_STREQ(name, "Turbine");
    EXPECT_EQ(GetLoggerName(".", 9, name, sizeof name), -1);
    EXPECT_STREQ(name, "");
    LoggerStateRecord s[2];
    ASSERT_EQ(GetLoggerState(".", "*,2", s, 2), 2);
    EXPECT_EQ(s[0].state[0], 1);
    EXPECT_EQ(s[1].state[0], 0);
    EXPECT_EQ(server().sent().back(), bytes("TL,*,2"));
}

class LoggersAroundControl : public Loggers {
  protected:
    void SetUp() override {
        Loggers::SetUp();
        platform::RegistryKey key;
        ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey,
                                                platform::kKeyAllAccess, key),
                  0);
        ASSERT_EQ(key.set_string("ReconfigureLoggers", "on"), 0);
        auto t = server().tables.lock();
        t->processors.push_back({"CALC1", "Calculator"});
        t->devices.push_back({"DEV", 1, "Device"});
        t->loggers.push_back({"stand", 1, "", "L1"});
        t->loggers.push_back({"stand", 2, "", "L2", false});
        t->loggers.push_back({"stand", 3, "", "L3"});
        t->loggers.push_back({"repub", 4, "", "L4"});
    }
    void answer(bool yes) {
        qvr::set_yes_no_question([this, yes](const std::string& title, const std::string& text) {
            questions_.push_back(title + "|" + text);
            return yes;
        });
    }
    // The disable and enable requests, without the user.
    std::vector<std::string> logger_traffic() {
        std::vector<std::string> out;
        for (const std::string& r : server().sent()) {
            const std::string code = r.substr(0, 2);
            if (code == "DL" || code == "EL")
                out.push_back(r.substr(0, r.find(',', 3)));
            else if (code == "CP" || code == "CE")
                out.push_back(code);
        }
        return out;
    }
    bool enabled(const std::string& name) {
        for (const auto& l : server().tables.lock()->loggers)
            if (l.name == name) return l.enabled;
        return false;
    }
    std::vector<std::string> questions_;
};

TEST_F(LoggersAroundControl, AYesDisablesTheEnabledLoggersAndEnablesTheSameAgain) {
    answer(true);
    EXPECT_EQ(ControlProcessor(".", 'c', "CALC1"), 1);
    EXPECT_EQ(logger_traffic(),
              (std::vector<std::string>{"DL,L1", "DL,L3", "DL,L4", "CP", "EL,L1", "EL,L3", "EL,L4"}));
    EXPECT_EQ(questions_,
              std::vector<std::string>{"Reconfigure Loggers|Do you wish to disable and re-enable loggers"});
    EXPECT_TRUE(enabled("L1") && enabled("L3") && enabled("L4"));
    EXPECT_FALSE(enabled("L2"));
    server().dispatcher().clear_requests();
    EXPECT_EQ(ControlDevice(".", 'C', "DEV_1"), 1);
    EXPECT_EQ(logger_traffic(),
              (std::vector<std::string>{"DL,L1", "DL,L3", "DL,L4", "CE", "EL,L1", "EL,L3", "EL,L4"}));
    server().dispatcher().clear_requests();
    EXPECT_EQ(ControlProcessor(".", 'R', "CALC1"), 1);  // R leaves the loggers alone
    EXPECT_EQ(logger_traffic(), std::vector<std::string>{"CP"});
}

TEST_F(LoggersAroundControl, ANoSendsTheControlOnly) {
    answer(false);
    EXPECT_EQ(ControlProcessor(".", 'T', "CALC1"), 1);
    EXPECT_EQ(logger_traffic(), std::vector<std::string>{"CP"});
    qvr::set_yes_no_question(nullptr);  // nobody to ask: No
    server().dispatcher().clear_requests();
    EXPECT_EQ(ControlProcessor(".", 'T', "CALC1"), 1);
    EXPECT_EQ(logger_traffic(), std::vector<std::string>{"CP"});
}

TEST_F(LoggersAroundControl, AFailedDisableEnablesTheLoggersDisabledSoFarAndSendsNoControl) {
    answer(true);
    server().dispatcher().script_fault("DL", sim_server::Fault{});
    server().dispatcher().script_reply("DL", std::string("-1,5", 5));
    EXPECT_EQ(ControlProcessor(".", 'C', "CALC1"), -1);
    EXPECT_EQ(errno, 5);
    EXPECT_EQ(logger_traffic(), (std::vector<std::string>{"DL,L1", "DL,L3", "EL,L1"}));
    EXPECT_TRUE(enabled("L1") && enabled("L3") && enabled("L4"));
}

TEST_F(LoggersAroundControl, AFailedEnableStillEnablesTheOthers) {
    answer(true);
    server().dispatcher().script_fault("EL", sim_server::Fault{});
    server().dispatcher().script_reply("EL", std::string("-1,5", 5));
    EXPECT_EQ(ControlProcessor(".", 'C', "CALC1"), -1);
    EXPECT_EQ(logger_traffic(),
              (std::vector<std::string>{"DL,L1", "DL,L3", "DL,L4", "CP", "EL,L1", "EL,L3", "EL,L4"}));
    EXPECT_TRUE(enabled("L1") && enabled("L4"));
    EXPECT_FALSE(enabled("L3"));
    EXPECT_EQ(trace("re-enable logger L3").size(), 1u);
}

TEST_F(LoggersAroundControl, NoLoggersStillSendsTheControl) {
    answer(true);
    server().tables.lock()->loggers.clear();
    EXPECT_EQ(ControlProcessor(".", 'C', "CALC1"), 1);
    EXPECT_EQ(server().codes(), (std::vector<std::string>{"QL", "CP"}));
    EXPECT_TRUE(questions_.empty());
}

TEST_F(LoggersAroundControl, AListThatCannotBeReadSendsNoControl) {
    answer(true);
    server().dispatcher().script_reply("TL", std::string("-1,5", 5));
    EXPECT_EQ(ControlProcessor(".", 'C', "CALC1"), -1);
    EXPECT_EQ(server().codes(), (std::vector<std::string>{"QL", "TL"}));
}

TEST_F(LoggersAroundControl, TheSwitchOffLeavesTheLoggersAlone) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::open(platform::RegistryHive::machine, kProductKey,
                                          platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string("ReconfigureLoggers", "OFF"), 0);
    answer(true);
    EXPECT_EQ(ControlProcessor(".", 'C', "CALC1"), 1);
    EXPECT_EQ(server().codes(), std::vector<std::string>{"CP"});
    EXPECT_EQ(IsReconfigureLoggersOn("plant4"), 0);
}

TEST_F(LoggersAroundControl, LoggersDisabledAreEnabledAgainEvenIfTheSwitchWentOffMeanwhile) {
    answer(true);
    ASSERT_EQ(DisableLoggers("."), 0);
    EXPECT_FALSE(enabled("L1"));
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::open(platform::RegistryHive::machine, kProductKey,
                                          platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string("ReconfigureLoggers", "OFF"), 0);
    EXPECT_EQ(ReenableLoggers("."), 0);
    EXPECT_TRUE(enabled("L1") && enabled("L3") && enabled("L4"));
    server().dispatcher().clear_requests();
    EXPECT_EQ(ReenableLoggers("."), 0);  // the kept list is empty now
    EXPECT_EQ(server().dispatcher().request_count(), 0u);
}

TEST(ListFile, TheCInterfaceReadsFieldsAndRewindsAtTheEnd) {
    qvr_test::TempDir dir;
    qvr_test::write_file(dir / "L.TXT", "* head\r\na,b,c,d\r\n\r\nx\n");
    ASSERT_EQ(OpenListFile((dir / "L.TXT").c_str()), 0);
    ListField fields[3];
    EXPECT_EQ(NextListLine(fields, 3), 3);
    EXPECT_STREQ(fields[2], "c");  // at most n fields: the rest is not read
    EXPECT_EQ(NextListLine(fields, 3), 1);
    EXPECT_STREQ(fields[0], "x");
    EXPECT_EQ(NextListLine(fields, 3), 0);
    EXPECT_EQ(NextListLine(fields, 3), 3);  // rewound
    EXPECT_EQ(ReportListError("bad", "a,b,c,d"),
              "Can't Parse " + (dir / "L.TXT").string() + "\nLine 2 : **** bad ****\na,b,c,d\nError : -2\n");
    EXPECT_EQ(CloseListFile(), 0);
    EXPECT_EQ(NextListLine(fields, 3), 0);
    EXPECT_EQ(OpenListFile((dir / "missing").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
