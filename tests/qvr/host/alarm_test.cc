// Notices: AlarmMessage forms, batches and logger codes, and the alarm and derived mailslots
// through restarts and slow receivers.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "host/runtime_host.h"
#include "platform/host_identity.h"
#include "qvr/host/alarm.h"
#include "qvr/host/device_modules.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/slot.h"
#include "support/child_process.h"
#include "support/debug_capture.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kLong = 30s;

class Notices : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i) host_.add_logger({"stand", "L" + std::to_string(i + 1)});
        ASSERT_EQ(shm_OpenDeviceTable(), 0);
    }
    void begin(const char* code = "UA") { ASSERT_EQ(alarm_BeginBatch(shm_DataArea(code)), 0); }
    std::vector<uint32_t> codes() {
        auto c = sim_host::slot_codes();
        sim_host::clear_slot_codes();
        return c;
    }
    sim_host::RuntimeHost host_;
};

}  // namespace

TEST_F(Notices, ChannelMessageForms) {
    begin();
    const float v = 42.5f;
    ASSERT_EQ(alarm_PostAlarmAs(0, 0x80 | 0x4, 1, 300, 7, "C", "U", &v), 0);  // priority keeps 8 bits
    ASSERT_EQ(alarm_PostEventAs(2, 0x20 | 0x4, "C", "U", nullptr), 0);
    ASSERT_EQ(alarm_PostWarningAs(1, 0x80 | 0x200 | 0x4 | 0x20, 5, "C", "U", &v), 0);
    ASSERT_EQ(alarm_PostWarningEventAs(3, 0x80, "C", "U", &v), 0);
    ASSERT_EQ(alarm_EndBatch(), 0);
    const auto m = host_.alarms().alarms(4, kLong);
    ASSERT_EQ(m.size(), 4u);
    struct Expect {
        uint16_t channel;
        uint32_t form;
        uint16_t delay;
        bool value;
    } expect[] = {
        {1, qvr::kFormAlarm | qvr::kFormAnalog | qvr::kFormHighSide | qvr::kFormFlag | (44u << 7), 7, true},
        {0x8003, qvr::kFormEvent | qvr::kFormHighSide, 0, false},
        {2, qvr::kFormWarning | qvr::kFormAnalog | qvr::kFormHighSide | (5u << 7), 0, true},  // no failed bit
        {4, qvr::kFormWarningEvent | qvr::kFormAnalog, 0, true},
    };
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::string(m[i].code, 2), "UA");
        EXPECT_EQ(m[i].channel, expect[i].channel);
        EXPECT_EQ(m[i].form, expect[i].form);
        EXPECT_EQ(m[i].delay, expect[i].delay);
        EXPECT_EQ(m[i].trailer, 0u);
        if (expect[i].value) {
            EXPECT_EQ(qvr::message_value(m[i]), 42.5f);
        }
    }
    std::byte raw[qvr::kAlarmMessageSize];
    std::memcpy(raw, &m[1], sizeof raw);
    EXPECT_EQ(raw[12], std::byte{0xFF});
    EXPECT_EQ(raw[15], std::byte{0x7F}) << "no value: FF FF FF 7F";
}

TEST_F(Notices, SystemFormsAndOwnNames) {
    ASSERT_EQ(alarm_PostText("AB", 12, "boiler started"), 0);
    ASSERT_EQ(alarm_PostForm3(), 0);
    ASSERT_EQ(alarm_PostForm6("CD", 6), 0);
    ASSERT_EQ(alarm_PostForm7As("EF", 7, "A-VERY-LONG-COMPUTER-NAME", std::string(40, 'u').c_str()), 0);
    const float v = 1.5f;
    ASSERT_EQ(alarm_PostFlagged(0x1234, 0x80, &v), 0);
    const auto m = host_.alarms().alarms(5, kLong);
    ASSERT_EQ(m.size(), 5u);
    EXPECT_EQ(qvr::form_of(m[0].form), qvr::kFormText);
    EXPECT_EQ(m[0].channel, 12);
    EXPECT_STREQ(m[0].text, "boiler started");
    EXPECT_STREQ(m[0].computer, platform::computer_name().c_str());
    EXPECT_LE(std::strlen(m[0].computer), 15u);
    EXPECT_STREQ(m[0].user, platform::user_name().c_str());
    EXPECT_EQ(std::string(m[1].code, 2), "  ");
    EXPECT_EQ(m[1].form, qvr::kFormNamesOnly);
    EXPECT_EQ(m[2].form, qvr::kFormCode6);
    EXPECT_EQ(std::string(m[2].code, 2), "CD");
    EXPECT_EQ(m[3].form, qvr::kFormCode7);
    EXPECT_STREQ(m[3].computer, "A-VERY-LONG-COM");
    EXPECT_EQ(std::strlen(m[3].user), 32u);
    EXPECT_EQ(m[4].form, qvr::kFormAlarm | qvr::kFormAnalog);
    EXPECT_EQ(m[4].trailer, qvr::kTrailerFlagged);
    EXPECT_EQ(m[4].channel, 0x1234);
    EXPECT_EQ(qvr::message_value(m[4]), 1.5f);
}

TEST_F(Notices, RefusedOutsideABatchAndBeyondTheChannels) {
    EXPECT_EQ(alarm_PostEvent(0, 0), -1);
    EXPECT_EQ(alarm_LoggerTriggerUp(0), -1);
    EXPECT_EQ(alarm_EndBatch(), -1);
    begin();  // UA has 4 channels
    EXPECT_EQ(alarm_BeginBatch(shm_DataArea("MB")), -1) << "one batch per thread";
    EXPECT_EQ(alarm_PostAlarm(4, 0, 0, 1, 0), -1);
    EXPECT_EQ(alarm_LoggerTriggerLevel(4), -1);
    EXPECT_EQ(alarm_PostForm3As("MARK", "MARK"), 0);
    ASSERT_EQ(alarm_EndBatch(), 0);
    const auto m = host_.alarms().alarms(1, kLong);
    ASSERT_EQ(m.size(), 1u) << "nothing but the mark";
}

TEST_F(Notices, LoggerCodesPerBatch) {
    host_.set_logger_channel("UA", 1, 1, true);
    host_.set_logger_channel("UA", 2, 1, true);
    host_.set_logger_channel("UA", 2, 2, true);
    host_.set_logger_channel("UA", 3, 4, true);
    host_.logger(3)->LoggerEnabled = 0;
    codes();
    struct Case {
        std::vector<std::pair<char, int>> triggers;  // u(p), d(own), l(evel); 0-based channel
        std::vector<uint32_t> codes;
    } cases[] = {
        {{{'u', 0}, {'d', 0}}, {}},                                              // net nothing
        {{{'l', 0}}, {qvr::kLoggerLevelEventCode, qvr::kLoggerLevelEventCode}},  // logger 1 and 2
        {{{'u', 1}, {'u', 1}}, {qvr::kLoggerEventCode + 2}},                     // logger 2 only
        {{{'u', 3}}, {}},                                                        // logger 3 disabled
        {{{'d', 1}, {'l', 1}}, {qvr::kLoggerLevelEventCode - 1}},
    };
    for (const auto& c : cases) {
        begin();
        for (auto [kind, channel] : c.triggers) {
            const int rc = kind == 'u'   ? alarm_LoggerTriggerUp(channel)
                           : kind == 'd' ? alarm_LoggerTriggerDown(channel)
                                         : alarm_LoggerTriggerLevel(channel);
            EXPECT_EQ(rc, 0);
        }
        ASSERT_EQ(alarm_EndBatch(), 0);
        EXPECT_EQ(codes(), c.codes);
    }
}

TEST_F(Notices, AFailedLoggerSendIsTracedAndFailsTheBatch) {
    // Logger 4 runs in a process that does not read its slot, and later dies; logger 1 (the
    // host) watches the same channel.
    auto deaf = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_test_helper"), {"deaf"}, {}, true);
    deaf.read_stdout(kLong, "ready");
    const auto pid = static_cast<uint32_t>(deaf.pid());
    const int logger = host_.add_logger({"stand", "L4", true, pid});
    ASSERT_EQ(logger, 4);
    host_.set_logger_channel("UA", 1, 1, true);
    host_.set_logger_channel("UA", logger, 1, true);
    int queued = 0;
    while (slot_SendCode(pid, 1) == 0) ASSERT_LT(++queued, 100000) << "the deaf slot's queue never filled";
    codes();

    qvr_test::DebugCapture trace;
    auto batch_with_a_lost_code = [&](int error) {
        trace.clear();
        begin();
        ASSERT_EQ(alarm_LoggerTriggerUp(0), 0);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(alarm_EndBatch(), -1);
        EXPECT_EQ(errno, error);
        // At most one send time-out of about 1 s; the bound leaves room for a loaded machine.
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "the failed send outlasted its time-out";
        EXPECT_EQ(trace.lines("notice not delivered: logger event code").size(), 1u);
        EXPECT_EQ(codes(), std::vector<uint32_t>{qvr::kLoggerEventCode + 1}) << "the other logger is told";
        begin();
        EXPECT_EQ(alarm_EndBatch(), 0) << "the failed batch was ended all the same";
    };
    {
        SCOPED_TRACE("slot not read");
        batch_with_a_lost_code(ETIMEDOUT);
    }
    deaf.kill(SIGKILL);
    ASSERT_TRUE(deaf.wait(kLong));
    {
        SCOPED_TRACE("process dead");
        batch_with_a_lost_code(ENOENT);
    }
}

TEST_F(Notices, BitmapsOfFewerThanEightChannelsStayApart) {
    // UA has 4 channels: each bitmap is one byte, so logger 2's bit of channel 1 is not
    // logger 1's or the derived inputs'.
    host_.set_logger_channel("UA", 2, 1, true);
    codes();
    begin();
    EXPECT_EQ(alarm_CheckDerivedInput(0), 0);
    ASSERT_EQ(alarm_LoggerTriggerUp(0), 0);
    ASSERT_EQ(alarm_EndBatch(), 0);
    EXPECT_EQ(codes(), std::vector<uint32_t>{qvr::kLoggerEventCode + 1});
    EXPECT_TRUE(host_.derived().codes().empty());
}

TEST_F(Notices, WithoutAnEnabledAlarmProgramNoticesAreSilentAndLookedForAgain) {
    host_.process("ALARM")->ProcEnabled = 0;
    begin();
    EXPECT_EQ(alarm_PostEvent(0, 0), 0);
    host_.process("ALARM")->ProcEnabled = 1;
    EXPECT_EQ(alarm_PostEvent(1, 0), 0);
    ASSERT_EQ(alarm_EndBatch(), 0);
    const auto m = host_.alarms().alarms(1, kLong);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].channel, 2);
}

TEST_F(Notices, AlarmReceiverStartingLateOrRestartingLosesNothingSilently) {
    host_.alarms().unbind();  // ALARM is enabled but still starting
    begin();
    EXPECT_EQ(alarm_PostEvent(0, 0), -1) << "a failed open is reported";
    host_.alarms().bind();
    EXPECT_EQ(alarm_PostEvent(1, 0), 0) << "and not remembered";
    ASSERT_EQ(host_.alarms().alarms(1, kLong).size(), 1u);
    host_.alarms().unbind();  // a restart between two messages: the handle is dead
    host_.alarms().bind();
    EXPECT_EQ(alarm_PostEvent(2, 0), 0);
    ASSERT_EQ(alarm_EndBatch(), 0);
    const auto m = host_.alarms().alarms(2, kLong);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].channel, 2);
    EXPECT_EQ(m[1].channel, 3);
}

TEST_F(Notices, ASlowAlarmReceiverBoundsTheBatchAndEverySuccessArrives) {
    host_.alarms().pause();
    begin();
    int delivered = 0, failed = 0;
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 300; ++i) (alarm_PostEvent(i % 4, 0) == 0 ? delivered : failed)++;
    ASSERT_EQ(alarm_EndBatch(), 0);
    EXPECT_GT(failed, 0) << "a receiver that does not read makes sends fail, not hang";
    // One send time-out of about 1 s, then the batch does not wait again.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "the batch waited more than once";
    host_.alarms().resume();
    EXPECT_EQ(host_.alarms().alarms(delivered, kLong).size(), static_cast<size_t>(delivered));
}

TEST_F(Notices, ADerivedProgramThatStartsLaterIsTold) {
    host_.set_derived_input("UA", 2, true);
    host_.derived().unbind();
    begin();
    EXPECT_EQ(alarm_CheckDerivedInput(1), 1);
    EXPECT_EQ(alarm_EndBatch(), -1) << "the lost notice is reported";
    host_.derived().bind();
    // Looked for again after a short back-off; never waited for inside a batch.
    const auto until = std::chrono::steady_clock::now() + kLong;
    while (host_.derived().codes().empty() && std::chrono::steady_clock::now() < until) {
        begin();
        alarm_CheckDerivedInput(1);
        alarm_EndBatch();
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_FALSE(host_.derived().codes().empty());
    EXPECT_EQ(host_.derived().codes()[0], "UA");
}

TEST_F(Notices, AnEnabledDerivedProgramWithoutItsInboxNeverStallsTheBatch) {
    host_.set_derived_input("UA", 2, true);
    host_.derived().unbind();
    qvr_test::DebugCapture trace;
    // The first look, a batch inside the back-off and the next look: each ends at once (the
    // writer's locks are held meanwhile; waiting for the program would take a second or more)
    // and reports its notice as lost.
    for (const auto pause : {0ms, 0ms, 600ms}) {
        SCOPED_TRACE(pause.count());
        std::this_thread::sleep_for(pause);
        begin();
        ASSERT_EQ(alarm_CheckDerivedInput(1), 1);
        const auto start = std::chrono::steady_clock::now();
        const int rc = alarm_EndBatch();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(trace.lines("notice not delivered: derived-value notice").size(), 1u);
        trace.clear();
    }
}

TEST_F(Notices, EachThreadHasItsOwnBatch) {
    begin("UA");
    std::thread other([] {
        EXPECT_EQ(alarm_BeginBatch(shm_DataArea("C1")), 0);
        EXPECT_EQ(alarm_PostEvent(3, 0), 0);
        EXPECT_EQ(alarm_EndBatch(), 0);
    });
    other.join();
    EXPECT_EQ(alarm_PostEvent(0, 0), 0);
    ASSERT_EQ(alarm_EndBatch(), 0);
    const auto m = host_.alarms().alarms(2, kLong);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(std::string(m[0].code, 2), "C1");
    EXPECT_EQ(std::string(m[1].code, 2), "UA");
}
