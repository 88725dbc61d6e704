// The channel writers' rules, with real modules, a real alarm mailslot and the host's slot.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/runtime_host.h"
#include "platform/last_error.h"
#include "qvr/host/alarm.h"
#include "qvr/host/chan.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/host/device_modules.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"
#include "qvr/testing/alarm_testing.h"
#include "support/debug_capture.h"

using namespace std::chrono_literals;
using qvr::AnalogFlag;
using qvr::DigitalFlag;

namespace {

constexpr auto kLong = 30s;

// The host with one logger watching channel 1 of MB (digital) and UA (analog).
class Writers : public ::testing::Test {
  protected:
    void SetUp() override {
        host_.add_logger({"stand", "Logger 1"});
        host_.set_logger_channel("MB", 1, 1, true);
        host_.set_logger_channel("UA", 1, 1, true);
    }

    // Every alarm message sent so far: a names-only notice from this thread follows them on
    // the same socket, so once it arrives nothing sent before it is still on the way.
    std::vector<qvr::AlarmMessage> drain() {
        const size_t before = host_.alarms().messages().size();
        EXPECT_EQ(alarm_PostForm3As("MARK", "MARK"), 0);
        auto all = host_.alarms().alarms(before + 1, kLong);
        EXPECT_FALSE(all.empty());
        std::vector<qvr::AlarmMessage> out;
        for (const auto& m : all)
            if (std::strcmp(m.user, "MARK") != 0) out.push_back(m);
        host_.alarms().clear();
        return out;
    }
    std::vector<uint32_t> codes() {
        auto c = sim_host::slot_codes();
        sim_host::clear_slot_codes();
        return c;
    }

    qvr::DigitalChannel& digital(int n) { return host_.channel_record("MB", n)->digital; }
    qvr::AnalogChannel& analog(int n) { return host_.channel_record("UA", n)->analog; }
    void dflag(DigitalFlag f, bool on = true) { host_.channel_record("MB", 1)->head.Flags.set(f, on); }
    void aflag(AnalogFlag f, bool on = true) { host_.channel_record("UA", 1)->head.Flags.set(f, on); }

    int write_digital(uint32_t v) { return chan_SetDigitalValuesAs("MB", 1, 1, &v, "PC1", "op"); }
    int write_analog(float v) { return chan_SetAnalogValuesAs("UA", 1, 1, &v, "PC1", "op"); }

    sim_host::RuntimeHost host_;
};

}  // namespace

TEST_F(Writers, DigitalAlarmRules) {
    dflag(DigitalFlag::AlarmEnable);
    dflag(DigitalFlag::AlarmState);  // alarm when high
    dflag(DigitalFlag::AlarmDriveCommon);
    digital(1).AlarmPriority = 7;
    struct Step {
        uint16_t delay;
        uint32_t value;
        uint32_t status;  // after the write
        int form;         // -1: no message
        uint16_t msg_delay;
    } steps[] = {
        {0, 1, 0x847, qvr::kFormAlarm, 0},  // raised without delay: 0x2 and 0x40
        {0, 1, 0x847, -1, 0},               // unchanged: nothing
        {0, 0, 0x44, qvr::kFormEvent, 0},   // cleared: 0x800 and 0x2 go
        {9, 1, 0x845, qvr::kFormAlarm, 9},  // raised with a delay: 0x2 cleared, no 0x40
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.status);
        digital(1).AlarmDelay = s.delay;
        const uint32_t before = host_.status_word("MB", 1);
        ASSERT_EQ(write_digital(s.value), 0);
        EXPECT_EQ(host_.status_word("MB", 1), s.status);
        const auto messages = drain();
        if (s.form < 0) {
            EXPECT_TRUE(messages.empty());
            continue;
        }
        ASSERT_EQ(messages.size(), 1u);
        const auto& m = messages[0];
        EXPECT_EQ(std::string(m.code, 2), "MB");
        EXPECT_EQ(m.channel, 1);
        EXPECT_EQ(qvr::form_of(m.form), static_cast<uint32_t>(s.form));
        EXPECT_EQ(m.form & qvr::kFormAnalog, 0u);
        EXPECT_EQ(m.form & qvr::kFormHighSide, qvr::kFormHighSide) << "state high";
        EXPECT_EQ(qvr::message_value(m), static_cast<float>(s.value));
        EXPECT_STREQ(m.computer, "PC1");
        EXPECT_STREQ(m.user, "op");
        if (s.form == qvr::kFormAlarm) {
            EXPECT_EQ(m.delay, s.msg_delay);
            EXPECT_EQ(qvr::priority_of(m.form), 7u);
            EXPECT_EQ(m.form & qvr::kFormFlag, qvr::kFormFlag);
        } else {
            EXPECT_EQ(before & 0x4, 0x4u) << "the end of the alarm carries the old word";
        }
    }
}

TEST_F(Writers, DigitalChannelsConsideredAndSkipped) {
    // Unchanged healthy channel: nothing; the All form processes it.
    dflag(DigitalFlag::AlarmEnable);  // alarm when low (AlarmState clear)
    uint32_t zero = 0;
    ASSERT_EQ(chan_SetDigitalValues("MB", 1, 1, &zero), 0);
    EXPECT_EQ(host_.status_word("MB", 1), 0u);
    EXPECT_TRUE(drain().empty());
    ASSERT_EQ(chan_SetDigitalValuesAll("MB", 1, 1, &zero), 0);
    EXPECT_EQ(host_.status_word("MB", 1), 0x842u);
    ASSERT_EQ(drain().size(), 1u);

    // A channel of another kind in the range is skipped.
    host_.channel_record("MB", 2)->head.Type = qvr::ChannelKind::DI;
    const uint32_t ones[] = {1, 1, 1};
    ASSERT_EQ(chan_SetDigitalValues("MB", 1, 3, ones), 0);
    EXPECT_EQ(host_.status_word("MB", 2), 0u);
    EXPECT_EQ(host_.status_word("MB", 3), 1u);

    // A disabled channel is marked on every processed write.
    host_.channel_record("MB", 4)->head.Flags.set(DigitalFlag::Enable, false);
    uint32_t one = 1;
    ASSERT_EQ(chan_SetDigitalValues("MB", 4, 4, &one), 0);
    EXPECT_EQ(host_.status_word("MB", 4), 0x21u);
    // A failed channel takes only the state from a changed-only write.
    host_.set_status_word("MB", 5, 0x20);
    ASSERT_EQ(chan_SetDigitalValues("MB", 5, 5, &one), 0);
    EXPECT_EQ(host_.status_word("MB", 5), 0x21u);
    ASSERT_EQ(chan_SetDigitalValuesAll("MB", 5, 5, &zero), 0);
    EXPECT_EQ(host_.status_word("MB", 5), 0u) << "All processes it and it is enabled";
}

TEST_F(Writers, DigitalEventsCountLoggerTriggers) {
    dflag(DigitalFlag::EventEnable);
    dflag(DigitalFlag::EventState);
    codes();
    ASSERT_EQ(write_digital(1), 0);
    EXPECT_EQ(host_.status_word("MB", 1), 0x19u);
    EXPECT_EQ(codes(), std::vector<uint32_t>{qvr::kLoggerEventCode + 1});
    ASSERT_EQ(write_digital(0), 0);
    EXPECT_EQ(host_.status_word("MB", 1), 0x10u);
    EXPECT_EQ(codes(), std::vector<uint32_t>{qvr::kLoggerEventCode - 1});
    EXPECT_TRUE(drain().empty()) << "events go to loggers, not to the alarm program";
}

TEST_F(Writers, AnalogAlarmRulesUseTheAlarmsOwnSide) {
    aflag(AnalogFlag::HighAlarmEnable);
    aflag(AnalogFlag::HighAlarmDeadbandEnable);
    aflag(AnalogFlag::HighAlarmDriveCommon);
    aflag(AnalogFlag::LowAlarmEnable);
    auto& a = analog(1);
    a.HighAlarmLimit = 90;
    a.HighAlarmDeadband = 85;
    a.LowAlarmLimit = 10;
    a.LowAlarmDeadband = 15;
    a.HighAlarmPriority = 200;
    a.LowAlarmPriority = 3;
    a.HighAlarmDelay = 0;
    a.LowAlarmDelay = 4;
    struct Step {
        float value;
        uint32_t status;
        int form;
        unsigned priority;
        uint16_t delay;
        bool high;
        bool flag;
    } steps[] = {
        {90, 0x8C6, qvr::kFormAlarm, 200, 0, true, true},  // at the limit: the high side's settings
        {86, 0x8C6, -1, 0, 0, true, false},                // held by the deadband, no notice
        {84, 0xC4, qvr::kFormEvent, 0, 0, true, false},    // below the deadband: cleared (0x40 stays)
        {10, 0x8C0, qvr::kFormAlarm, 3, 4, false, false},  // at the low limit: the low side's
        {12, 0xC0, qvr::kFormEvent, 0, 0, false, false},   // no low deadband: cleared
        {95, 0x8C6, qvr::kFormAlarm, 200, 0, true, true},
        {5, 0x8C0, qvr::kFormAlarm, 3, 4, false, false},  // side changed: low settings
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.value);
        ASSERT_EQ(write_analog(s.value), 0);
        EXPECT_EQ(host_.status_word("UA", 1), s.status);
        EXPECT_EQ(host_.value("UA", 1), s.value);
        const auto messages = drain();
        if (s.form < 0) {
            EXPECT_TRUE(messages.empty());
            continue;
        }
        ASSERT_EQ(messages.size(), 1u);
        const auto& m = messages[0];
        EXPECT_EQ(qvr::form_of(m.form), static_cast<uint32_t>(s.form));
        EXPECT_EQ(m.form & qvr::kFormAnalog, qvr::kFormAnalog);
        EXPECT_EQ((m.form & qvr::kFormHighSide) != 0, s.high);
        EXPECT_EQ(qvr::message_value(m), s.value);
        if (s.form == qvr::kFormAlarm) {
            EXPECT_EQ(qvr::priority_of(m.form), s.priority);
            EXPECT_EQ(m.delay, s.delay);
            EXPECT_EQ((m.form & qvr::kFormFlag) != 0, s.flag);
        }
    }
}

TEST_F(Writers, AnalogWarningsSignificantChangeAndEvents) {
    aflag(AnalogFlag::HighAlarmEnable);
    aflag(AnalogFlag::HighWarningEnable);
    aflag(AnalogFlag::SigChangeEnable);
    aflag(AnalogFlag::EventEnable);
    auto& a = analog(1);
    a.HighAlarmLimit = 90;
    a.HighWarningLimit = 80;
    a.HighAlarmPriority = 9;
    a.SigChangeValue = -5;  // its magnitude counts
    a.HighEventLimit = 70;
    a.LowEventLimit = 10;
    codes();

    ASSERT_EQ(write_analog(85), 0);  // warning high, event high, significant
    EXPECT_EQ(host_.status_word("UA", 1), 0x699u);
    auto m = drain();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(qvr::form_of(m[0].form), qvr::kFormWarning);
    EXPECT_EQ(qvr::priority_of(m[0].form), 9u);
    EXPECT_EQ(m[0].form & qvr::kFormHighSide, qvr::kFormHighSide);
    EXPECT_EQ(codes(), std::vector<uint32_t>{qvr::kLoggerLevelEventCode + 1}) << "one up, one level";

    ASSERT_EQ(write_analog(82), 0);  // a change below SigChangeValue: no level trigger
    EXPECT_EQ(host_.status_word("UA", 1), 0x698u);
    EXPECT_TRUE(drain().empty());
    EXPECT_TRUE(codes().empty());

    ASSERT_EQ(write_analog(5), 0);  // warning cleared; event low: down and up, level
    EXPECT_EQ(host_.status_word("UA", 1), 0x289u);
    m = drain();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(qvr::form_of(m[0].form), qvr::kFormWarningEvent);
    EXPECT_EQ(codes(), std::vector<uint32_t>{qvr::kLoggerLevelEventCode + 0});
}

TEST_F(Writers, AnalogValueRecordsAndDisabledChannels) {
    ASSERT_EQ(write_analog(12.5f), 0);
    auto bytes = qvr::section_bytes(shm_OpenDeviceData("UA"));
    const size_t record = qvr::kStatusWordsOffset + 8 * 4;  // after 4 status words and values
    EXPECT_EQ(qvr::load_u32(bytes, record), qvr::kValueRecordWritten);
    float stored;
    std::memcpy(&stored, bytes.data() + record + 8, 4);
    EXPECT_EQ(stored, 12.5f);
    host_.channel_record("UA", 2)->head.Flags.set(AnalogFlag::Enable, false);
    const float v = 3;
    ASSERT_EQ(chan_SetAnalogValues("UA", 2, 2, &v), 0);
    EXPECT_EQ(host_.status_word("UA", 2), 0xA0u);
    EXPECT_EQ(host_.value("UA", 2), 3.0f);
}

TEST_F(Writers, DeviceValueRecordsAreFoundByTheModuleSize) {
    // A device says nothing of value records; its module is sized to hold them.
    sim_host::DeviceSpec spec;
    spec.codes = {"", "", "D3", "", ""};
    spec.stats_code.clear();
    for (int i = 0; i < 3; ++i)
        spec.channels[2].push_back(sim_host::analog_output("D" + std::to_string(i + 1)));
    spec.value_records = true;
    ASSERT_GE(host_.add_device(spec), 0);
    const float v = 7.25f;
    ASSERT_EQ(chan_SetAnalogValues("D3", 2, 2, &v), 0);
    EXPECT_EQ(host_.value("D3", 2), 7.25f);
    auto bytes = qvr::section_bytes(shm_OpenDeviceData("D3"));
    const size_t records = qvr::kStatusWordsOffset + 8 * 3;  // after 3 status words and values
    EXPECT_EQ(qvr::load_u32(bytes, records + qvr::kValueRecordSize), qvr::kValueRecordWritten);
    float stored;
    std::memcpy(&stored, bytes.data() + records + qvr::kValueRecordSize + qvr::kValueRecordValueOffset, 4);
    EXPECT_EQ(stored, 7.25f);
    EXPECT_EQ(qvr::load_u32(bytes, records), 0u) << "only the written channel's record";
}

TEST_F(Writers, OwnerProgramsGetCode305AndDoTheRulesThemselves) {
    host_.channel_record("C1", 1)->head.Flags.set(AnalogFlag::HighAlarmEnable, true);
    host_.channel_record("C1", 1)->analog.HighAlarmLimit = 1;
    codes();
    const float v = 50;
    ASSERT_EQ(chan_SetAnalogValues("C1", 1, 1, &v), 0);
    EXPECT_EQ(host_.value("C1", 1), 50.0f);
    EXPECT_EQ(host_.status_word("C1", 1), 0u);
    EXPECT_EQ(codes(), std::vector<uint32_t>{kSlotCodeOutputsWritten});
    EXPECT_TRUE(drain().empty());
}

TEST_F(Writers, InvalidWritesFailAndWriteNothing) {
    const float values[4] = {1, 2, 3, 4};
    const uint32_t states[4] = {1, 1, 1, 1};
    EXPECT_EQ(chan_SetAnalogValues("UA", 0, 1, values), -1);
    EXPECT_EQ(chan_SetAnalogValues("UA", 1, 5, values), -1);
    EXPECT_EQ(errno, 67);
    EXPECT_EQ(chan_SetAnalogValues("MB", 1, 1, values), -1) << "not an 8-byte module";
    EXPECT_EQ(chan_SetDigitalValues("QQ", 1, 1, states), -1) << "no such module";
    EXPECT_EQ(chan_SetDigitalValues("MB", 1, 9, states), -1);
    EXPECT_EQ(host_.value("UA", 1), 0.0f);
    EXPECT_EQ(host_.status_word("MB", 1), 0u);
}

TEST_F(Writers, SignalOthersPassesOverTheWritingProcess) {
    void* data = shm_OpenDeviceData("MB");
    ASSERT_GE(shm_ResetWaiters(data, 1), 0);  // this process in slot 1, not waiting
    auto missed = [&] {
        const auto bytes = qvr::section_bytes(data);
        const auto slot = qvr::waiter_slot(*qvr::signal_areas(bytes), 1);
        return qvr::load_u16(bytes, slot->offset + 6);
    };
    uint32_t v = 1;
    ASSERT_EQ(chan_SetDigitalValues("MB", 1, 1, &v), 0);
    EXPECT_EQ(missed(), 1);
    chan_SetDigitalSignalOthers(1);
    v = 0;
    ASSERT_EQ(chan_SetDigitalValues("MB", 1, 1, &v), 0);
    EXPECT_EQ(missed(), 1);
    chan_SetDigitalSignalOthers(0);
}

TEST_F(Writers, DerivedInputsTellTheDerivedProgram) {
    host_.set_derived_input("MB", 1, true);
    dflag(DigitalFlag::AlarmEnable);
    dflag(DigitalFlag::AlarmState);
    ASSERT_EQ(write_digital(1), 0);
    EXPECT_EQ(host_.derived().codes(1, kLong), std::vector<std::string>{"MB"});
    uint32_t v = 1;
    ASSERT_EQ(chan_SetDigitalValues("MB", 2, 2, &v), 0);  // not a derived input
    drain();
    EXPECT_EQ(host_.derived().codes().size(), 1u);
}

TEST_F(Writers, WithoutItsEventModuleAWriteStoresItsValuesAndTracesTheLostNotices) {
    // A processor whose event module the host failed to create: no batch can begin. Its
    // channel is set up as UA's channel 1, which shows what the rules must do.
    sim_host::ProcessSpec spec{.name = "USERB", .code = "UB", .analog = true, .event_module = false};
    spec.channels = {sim_host::analog_output("UB1")};
    ASSERT_GE(host_.add_process(spec), 0);
    aflag(AnalogFlag::HighAlarmEnable);
    aflag(AnalogFlag::EventEnable);
    analog(1).HighAlarmLimit = 90;
    analog(1).HighEventLimit = 70;
    analog(1).LowEventLimit = 10;
    *host_.channel_record("UB", 1) = *host_.channel_record("UA", 1);
    qvr_test::DebugCapture trace;
    struct Step {
        float value;
        const char* lost;  // nullptr: nothing to lose, nothing traced
    } steps[] = {
        {95, "2 notice(s) of a write to UB"},  // alarm raised, event trigger up
        {95, nullptr},                         // unchanged
        {50, "2 notice(s) of a write to UB"},  // alarm cleared, event trigger down
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.value);
        trace.clear();
        platform::set_last_error(0);
        ASSERT_EQ(chan_SetAnalogValuesAs("UB", 1, 1, &s.value, "PC1", "op"), 0) << "the values are stored";
        const int error = platform::last_error();
        ASSERT_EQ(write_analog(s.value), 0);
        EXPECT_EQ(host_.value("UB", 1), s.value);
        EXPECT_EQ(host_.status_word("UB", 1), host_.status_word("UA", 1)) << "the rules ran";
        for (const auto& m : drain()) EXPECT_EQ(std::string(m.code, 2), "UA") << "nothing of UB is sent";
        const auto lost = trace.lines("notice not delivered");
        if (s.lost == nullptr) {
            EXPECT_TRUE(lost.empty());
            continue;
        }
        ASSERT_EQ(lost.size(), 1u) << "one line for the write";
        EXPECT_NE(lost[0].find(s.lost), std::string::npos) << lost[0];
        EXPECT_EQ(error, ENOENT) << "the reason the batch could not begin";
    }
}

namespace {

// A processor module `code` of one analog output channel whose event module the host failed
// to create: a high alarm above 90 and an event above 70 when `events`.
bool add_module_without_events(sim_host::RuntimeHost& host, const char* name, const char* code, bool events) {
    sim_host::ProcessSpec spec{.name = name, .code = code, .analog = true, .event_module = false};
    spec.channels = {sim_host::analog_output(std::string(code) + "1")};
    if (host.add_process(spec) < 0) return false;
    qvr::ChannelRecord* r = host.channel_record(code, 1);
    r->head.Flags.set(AnalogFlag::HighAlarmEnable, true);
    r->head.Flags.set(AnalogFlag::EventEnable, events);
    r->analog.HighAlarmLimit = 90;
    r->analog.HighEventLimit = 70;
    r->analog.LowEventLimit = 10;
    return true;
}

// The event module the host creates after all.
bool add_event_module(sim_host::RuntimeHost& host, const std::string& code) {
    const uint32_t length =
        (1 + host.options().logger_capacity) * static_cast<uint32_t>(qvr::event_bitmap_size(1));
    return sim_host::create_module("dm_" + code + "_event", length) != nullptr;
}

}  // namespace

// The notices of a write whose batch cannot begin are kept: the module's first batch that
// begins (its event module created after all) posts them ahead of its own, with the names of
// the write they came from, and the logger hears of the trigger. Each goes once.
TEST_F(Writers, NoticesOfAWriteWithoutABatchGoWithTheModulesNextBatch) {
    qvr::alarm_testing::forget_kept_notices();
    ASSERT_TRUE(add_module_without_events(host_, "USERK", "UK", true));
    codes();
    qvr_test::DebugCapture trace;
    const float raised = 95;  // alarm raised, event trigger up
    ASSERT_EQ(chan_SetAnalogValuesAs("UK", 1, 1, &raised, "PC2", "kept"), 0);
    const auto kept = trace.lines("notice not delivered");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(kept[0].find("2 notice(s) of a write to UK without a batch, kept for its next batch"),
              std::string::npos)
        << kept[0];
    EXPECT_TRUE(drain().empty());
    EXPECT_TRUE(codes().empty());

    ASSERT_TRUE(add_event_module(host_, "UK"));
    ASSERT_TRUE(host_.set_logger_channel("UK", 1, 1, true));
    const float still_high = 96;  // a change without notices of its own
    ASSERT_EQ(chan_SetAnalogValuesAs("UK", 1, 1, &still_high, "PC1", "op"), 0);
    const auto messages = drain();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(std::string(messages[0].code, 2), "UK");
    EXPECT_EQ(messages[0].channel, 1);
    EXPECT_EQ(qvr::form_of(messages[0].form), static_cast<uint32_t>(qvr::kFormAlarm));
    EXPECT_EQ(qvr::message_value(messages[0]), 95.0f);
    EXPECT_STREQ(messages[0].computer, "PC2");
    EXPECT_STREQ(messages[0].user, "kept");
    EXPECT_EQ(codes(), std::vector<uint32_t>{qvr::kLoggerEventCode + 1});

    const float higher = 97;
    ASSERT_EQ(chan_SetAnalogValuesAs("UK", 1, 1, &higher, "PC1", "op"), 0);
    EXPECT_TRUE(drain().empty()) << "posted once";
    EXPECT_TRUE(codes().empty());
}

// Beyond the bound the oldest kept notices go, each traced; the newest are posted in order.
TEST_F(Writers, KeptNoticesAreBoundedAndTheOldestGo) {
    qvr::alarm_testing::forget_kept_notices();
    const size_t limit = qvr::alarm_testing::set_kept_notice_limit(3);
    ASSERT_TRUE(add_module_without_events(host_, "USERL", "UL", false));
    qvr_test::DebugCapture trace;
    // Raised, cleared, raised, cleared, raised: one notice each.
    for (const float v : {95.0f, 50.0f, 96.0f, 51.0f, 97.0f})
        ASSERT_EQ(chan_SetAnalogValuesAs("UL", 1, 1, &v, "PC1", "op"), 0);
    qvr::alarm_testing::set_kept_notice_limit(limit);
    EXPECT_EQ(trace.lines("the oldest kept notice of UL (3 kept at most)").size(), 2u);

    ASSERT_TRUE(add_event_module(host_, "UL"));
    const float same = 97;  // unchanged: the batch begins, the channel is not looked at
    ASSERT_EQ(chan_SetAnalogValuesAs("UL", 1, 1, &same, "PC1", "op"), 0);
    const auto messages = drain();
    ASSERT_EQ(messages.size(), 3u);
    const uint32_t forms[] = {qvr::kFormAlarm, qvr::kFormEvent, qvr::kFormAlarm};
    const float values[] = {96, 51, 97};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::string(messages[i].code, 2), "UL");
        EXPECT_EQ(qvr::form_of(messages[i].form), forms[i]);
        EXPECT_EQ(qvr::message_value(messages[i]), values[i]);
    }
}
