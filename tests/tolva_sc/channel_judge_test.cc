// Judging single channels: the status word that results and the notices it causes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tolva_sc/channel_judge.h"
#include "tolva_sc/kind_handlers.h"

namespace {

using qvr::AnalogFlag;
using qvr::DigitalFlag;
namespace sb = tolva::status_bit;
namespace kind = tolva::kind;

struct Recorder final : tolva::NoticeSink {
    std::vector<std::string> seen;
    static std::string value_text(const float* v) { return v == nullptr ? "none" : std::to_string(int(*v)); }
    void post_alarm(int i, uint32_t, bool dc, int p, int d, const float* v) override {
        seen.push_back("alarm " + std::to_string(i) + " p" + std::to_string(p) + " d" + std::to_string(d) +
                       (dc ? " common" : "") + " v" + value_text(v));
    }
    void post_event(int i, uint32_t, const float*) override { seen.push_back("end " + std::to_string(i)); }
    void post_warning(int i, uint32_t, int p, const float* v) override {
        seen.push_back("warning " + std::to_string(i) + " p" + std::to_string(p) + " v" + value_text(v));
    }
    void post_warning_event(int i, uint32_t, const float*) override {
        seen.push_back("warning end " + std::to_string(i));
    }
    void trigger_up(int i) override { seen.push_back("up " + std::to_string(i)); }
    void trigger_down(int i) override { seen.push_back("down " + std::to_string(i)); }
    void trigger_level(int i) override { seen.push_back("level " + std::to_string(i)); }
    std::vector<std::string> take() { return std::exchange(seen, {}); }
};

qvr::ChannelRecord analog(std::initializer_list<AnalogFlag> flags) {
    qvr::ChannelRecord r{};
    r.head.Type = qvr::ChannelKind::AI;
    r.head.Flags.set(AnalogFlag::Enable, true);
    for (AnalogFlag f : flags) r.head.Flags.set(f, true);
    r.analog.Gain = 1.0f;
    r.analog.HighAlarmLimit = 90;
    r.analog.HighAlarmDeadband = 85;
    r.analog.LowAlarmLimit = 10;
    r.analog.LowAlarmDeadband = 15;
    r.analog.HighWarningLimit = 80;
    r.analog.LowWarningLimit = 20;
    r.analog.HighEventLimit = 70;
    r.analog.LowEventLimit = 30;
    r.analog.HighAlarmPriority = 5;
    r.analog.LowAlarmPriority = 4;
    r.analog.ErrorAlarmPriority = 9;
    r.analog.ErrorAlarmDelay = 0;
    r.analog.SigChangeValue = 0.5f;
    return r;
}

qvr::ChannelRecord digital(std::initializer_list<DigitalFlag> flags) {
    qvr::ChannelRecord r{};
    r.head.Type = qvr::ChannelKind::DI;
    r.head.Flags.set(DigitalFlag::Enable, true);
    for (DigitalFlag f : flags) r.head.Flags.set(f, true);
    r.digital.AlarmPriority = 3;
    r.digital.ErrorAlarmPriority = 8;
    return r;
}

// An input channel across scans: the working word keeps what the last scan judged, as the
// private array does; each scan the handler's reading comes in.
struct AnalogInput {
    qvr::ChannelRecord record;
    int kind = kind::kAI;
    uint32_t w = 0;
    uint32_t m = 0;
    float published = 0;
    float last = tolva::no_significant_value();
    float reference = 0;
    Recorder notices;

    // One scan with a good reading (or a failed one).
    std::vector<std::string> scan(float reading, bool initial = false, bool failed = false) {
        w = failed ? (w | sb::kFailed) : (w & ~sb::kFailed);
        float v = reading;
        tolva::AnalogJudge how{kind, initial, reference, published};
        tolva::judge_analog(0, record, how, {w, m}, {v, last}, notices);
        m = w;
        published = v;
        return notices.take();
    }
};

TEST(AnalogJudge, HighAlarmHoldsInsideItsDeadband) {
    AnalogInput ch{analog({AnalogFlag::HighAlarmEnable, AnalogFlag::HighAlarmDeadbandEnable})};
    EXPECT_EQ(ch.scan(100, true), (std::vector<std::string>{"alarm 0 p5 d0 v100"}));
    EXPECT_EQ(ch.w & (sb::kAlarm | sb::kAlarmHigh | sb::kNoDelay | sb::kPosted),
              sb::kAlarm | sb::kAlarmHigh | sb::kNoDelay | sb::kPosted);
    EXPECT_TRUE(ch.scan(86).empty());
    EXPECT_NE(ch.w & sb::kAlarm, 0u);
    EXPECT_EQ(ch.scan(84), (std::vector<std::string>{"end 0"}));
    EXPECT_EQ(ch.w & (sb::kAlarm | sb::kNoDelay), 0u);
    // Back above the deadband but below the limit: no alarm without it standing.
    EXPECT_TRUE(ch.scan(87).empty());
}

TEST(AnalogJudge, LowAlarmAndItsDeadbandUseTheLowSettings) {
    auto r = analog({AnalogFlag::LowAlarmEnable, AnalogFlag::LowAlarmDeadbandEnable, AnalogFlag::LowAlarmDriveCommon});
    r.analog.LowAlarmDelay = 7;
    AnalogInput ch{r};
    EXPECT_TRUE(ch.scan(50, true).empty());
    EXPECT_EQ(ch.scan(5), (std::vector<std::string>{"alarm 0 p4 d7 common v5"}));
    // A delayed alarm is neither marked as posted without delay nor as such.
    EXPECT_EQ(ch.w & (sb::kNoDelay | sb::kPosted | sb::kAlarmHigh), 0u);
    EXPECT_TRUE(ch.scan(14).empty());
    EXPECT_EQ(ch.scan(16), (std::vector<std::string>{"end 0"}));
}

TEST(AnalogJudge, AFailedChannelRaisesTheErrorAlarmWithoutValue) {
    AnalogInput ch{analog({AnalogFlag::ErrorAlarmEnable, AnalogFlag::HighAlarmEnable})};
    ch.scan(50, true);
    EXPECT_EQ(ch.scan(50, false, true), (std::vector<std::string>{"alarm 0 p9 d0 vnone"}));
    EXPECT_NE(ch.w & sb::kFailed, 0u);
    EXPECT_EQ(ch.w & sb::kAlarmHigh, 0u);
    // Still failed: nothing new. Good again: the error alarm ends.
    EXPECT_TRUE(ch.scan(50, false, true).empty());
    EXPECT_EQ(ch.scan(50), (std::vector<std::string>{"end 0"}));
    // Without the option a failed channel raises nothing.
    AnalogInput quiet{analog({})};
    quiet.scan(1, true);
    EXPECT_TRUE(quiet.scan(1, false, true).empty());
}

TEST(AnalogJudge, NotANumberOrInfiniteFailsTheChannel) {
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        AnalogInput ch{analog({AnalogFlag::ErrorAlarmEnable})};
        ch.scan(1, true);
        EXPECT_EQ(ch.scan(bad), (std::vector<std::string>{"alarm 0 p9 d0 vnone"}));
        EXPECT_NE(ch.w & sb::kFailed, 0u);
    }
}

TEST(AnalogJudge, ScalingThatGivesNoNumberFailsTheChannel) {
    auto r = analog({AnalogFlag::ScalingEnable, AnalogFlag::ReferenceEnable, AnalogFlag::ErrorAlarmEnable});
    AnalogInput ch{r};
    ch.reference = std::numeric_limits<float>::quiet_NaN();  // as read from a damaged saved-values file
    EXPECT_EQ(ch.scan(5.0f, true), (std::vector<std::string>{"alarm 0 p9 d0 vnone"}));
    EXPECT_NE(ch.w & sb::kFailed, 0u);
}

TEST(AnalogJudge, SignificantChangeCountsFromTheFirstGoodReading) {
    AnalogInput ch{analog({AnalogFlag::SigChangeEnable})};
    // The first good reading only sets the last significant value.
    EXPECT_TRUE(ch.scan(10.0f, true).empty());
    EXPECT_EQ(ch.w & sb::kState, 0u);
    EXPECT_EQ(ch.last, 10.0f);
    EXPECT_TRUE(ch.scan(10.25f).empty());
    EXPECT_EQ(ch.w & sb::kState, 0u);
    // Exactly SigChangeValue away from the last significant value counts.
    EXPECT_EQ(ch.scan(10.5f), (std::vector<std::string>{"level 0"}));
    EXPECT_NE(ch.w & sb::kState, 0u);
    EXPECT_EQ(ch.last, 10.5f);
    // A failed channel keeps its last significant value.
    ch.scan(99, false, true);
    EXPECT_EQ(ch.last, 10.5f);
}

TEST(AnalogJudge, ScalingThenReferenceOnInputsOnly) {
    auto r = analog({AnalogFlag::ScalingEnable, AnalogFlag::ReferenceEnable});
    r.analog.Gain = 2.0f;
    r.analog.Offset = 0.5f;
    AnalogInput ch{r};
    ch.reference = 2.5f;
    ch.scan(6.0f, true);
    EXPECT_EQ(ch.published, 10.0f);  // 6 x 2 + 0.5 - 2.5
    // Huge readings saturate instead of overflowing to infinity.
    ch.scan(3e38f);
    EXPECT_EQ(ch.published, std::numeric_limits<float>::max() - 2.5f);
    EXPECT_EQ(ch.w & sb::kFailed, 0u);

    // CI scales but takes no reference; AO does neither.
    AnalogInput counter{r, kind::kCI};
    counter.reference = 2.5f;
    counter.scan(6.0f, true);
    EXPECT_EQ(counter.published, 12.5f);
    AnalogInput output{r, kind::kAO};
    output.scan(6.0f, true);
    EXPECT_EQ(output.published, 6.0f);
}

TEST(AnalogJudge, WarningsUseTheAlarmPrioritiesAndNeedTheAlarmOption) {
    AnalogInput ch{analog({AnalogFlag::HighWarningEnable, AnalogFlag::HighAlarmEnable, AnalogFlag::LowWarningEnable,
                           AnalogFlag::LowAlarmEnable})};
    EXPECT_TRUE(ch.scan(50, true).empty());
    EXPECT_EQ(ch.scan(82), (std::vector<std::string>{"warning 0 p5 v82"}));
    EXPECT_EQ(ch.w & (sb::kWarning | sb::kWarningHigh), sb::kWarning | sb::kWarningHigh);
    EXPECT_EQ(ch.scan(18), (std::vector<std::string>{"warning end 0", "warning 0 p4 v18"}));
    EXPECT_EQ(ch.w & (sb::kWarning | sb::kWarningHigh), sb::kWarning);
    EXPECT_EQ(ch.scan(50), (std::vector<std::string>{"warning end 0"}));

    // The warning option alone is not enough.
    AnalogInput lone{analog({AnalogFlag::HighWarningEnable})};
    lone.scan(50, true);
    EXPECT_TRUE(lone.scan(85).empty());
    EXPECT_EQ(lone.w & sb::kWarning, 0u);
}

TEST(AnalogJudge, EventsCountLoggerTriggersOnBothEdges) {
    AnalogInput ch{analog({AnalogFlag::EventEnable})};
    EXPECT_TRUE(ch.scan(50, true).empty());
    EXPECT_EQ(ch.scan(75), (std::vector<std::string>{"up 0"}));
    EXPECT_EQ(ch.w & (sb::kEvent | sb::kEventHigh), sb::kEvent | sb::kEventHigh);
    // High side to low side: the old event ends, the new one starts.
    EXPECT_EQ(ch.scan(25), (std::vector<std::string>{"down 0", "up 0"}));
    EXPECT_EQ(ch.scan(50), (std::vector<std::string>{"down 0"}));
}

TEST(AnalogJudge, SteadyChannelsAreNotJudgedAgainButTheInitialScanReannounces) {
    AnalogInput ch{analog({AnalogFlag::HighAlarmEnable})};
    ch.scan(95, true);
    // Clear the alarm bits behind the judge's back: an unchanged value is not judged.
    ch.w &= ~sb::kAlarm;
    ch.m = ch.w;
    EXPECT_TRUE(ch.scan(95).empty());
    EXPECT_EQ(ch.w & sb::kAlarm, 0u);
    EXPECT_EQ(ch.scan(95, true), (std::vector<std::string>{"alarm 0 p5 d0 v95"}));
}

TEST(AnalogJudge, ADisabledChannelIsFailedAndOnlyJudgedOnTheInitialScan) {
    auto r = analog({AnalogFlag::HighAlarmEnable, AnalogFlag::ErrorAlarmEnable});
    r.head.Flags.set(AnalogFlag::Enable, false);
    AnalogInput ch{r};
    EXPECT_TRUE(ch.scan(95, true).empty());  // disabled: no error alarm either
    EXPECT_NE(ch.w & sb::kFailed, 0u);
    EXPECT_TRUE(ch.scan(95).empty());
}

TEST(AnalogJudge, CarriedBitsComeFromThePublishedWordForInputsAndGoToTheMirrorForOutputs) {
    const auto r = analog({});
    Recorder n;
    uint32_t w = 0, m = 0x2 | 0x40 | 0x100 | 0x1000;
    float v = 1, last = tolva::no_significant_value();
    tolva::judge_analog(0, r, {kind::kAI, true, 0, 0}, {w, m}, {v, last}, n);
    // 0x2 goes with the alarm that no longer stands; the others stay.
    EXPECT_EQ(w & sb::kCarried, 0x40u | 0x100u | 0x1000u);
    w = 0x100;
    m = 0x1000;
    tolva::judge_analog(0, r, {kind::kAO, true, 0, 0}, {w, m}, {v, last}, n);
    EXPECT_EQ(m & sb::kCarried, 0x100u);
    EXPECT_EQ(w & sb::kCarried, 0x100u);
}

struct DigitalInput {
    qvr::ChannelRecord record;
    bool output = false;
    uint32_t w = 0;
    uint32_t m = 0;
    Recorder notices;
    bool changed = false;

    std::vector<std::string> scan(bool state, bool initial = false, bool failed = false) {
        w = (w & ~(sb::kState | sb::kFailed)) | (state ? sb::kState : 0) | (failed ? sb::kFailed : 0);
        changed = tolva::judge_digital(0, record, initial, output, {w, m}, notices);
        m = w;
        return notices.take();
    }
};

TEST(DigitalJudge, AlarmStateAndErrorAlarm) {
    auto r = digital({DigitalFlag::AlarmEnable, DigitalFlag::AlarmState, DigitalFlag::ErrorAlarmEnable,
                      DigitalFlag::AlarmDriveCommon});
    r.digital.AlarmDelay = 2;
    DigitalInput ch{r};
    EXPECT_TRUE(ch.scan(false, true).empty());
    EXPECT_TRUE(ch.changed);
    EXPECT_EQ(ch.scan(true), (std::vector<std::string>{"alarm 0 p3 d2 common v1"}));
    EXPECT_EQ(ch.w & (sb::kAlarm | sb::kAlarmHigh | sb::kNoDelay), sb::kAlarm | sb::kAlarmHigh);
    EXPECT_TRUE(ch.scan(true).empty());
    EXPECT_FALSE(ch.changed);
    // Failing ends the state alarm and raises the error alarm (no value).
    EXPECT_EQ(ch.scan(true, false, true), (std::vector<std::string>{"end 0", "alarm 0 p8 d0 vnone"}));
    EXPECT_EQ(ch.w & (sb::kAlarm | sb::kAlarmHigh | sb::kNoDelay | sb::kPosted), sb::kAlarm | sb::kNoDelay | sb::kPosted);
    EXPECT_EQ(ch.scan(false), (std::vector<std::string>{"end 0"}));
}

TEST(DigitalJudge, EventStateTriggersLoggers) {
    DigitalInput ch{digital({DigitalFlag::EventEnable})};  // EventState low: the event is state 0
    EXPECT_EQ(ch.scan(false, true), (std::vector<std::string>{"up 0"}));
    EXPECT_EQ(ch.w & (sb::kEvent | sb::kEventHigh), sb::kEvent);
    EXPECT_EQ(ch.scan(true), (std::vector<std::string>{"down 0"}));
}

TEST(DigitalJudge, AChannelFailedThroughAnOpenIsAnnouncedByTheInitialScan) {
    DigitalInput ch{digital({DigitalFlag::ErrorAlarmEnable})};
    // As after failing every channel on open: published failed, the reading still failed.
    ch.m = sb::kFailed;
    ch.w = sb::kFailed;
    EXPECT_EQ(ch.scan(false, true, true), (std::vector<std::string>{"alarm 0 p8 d0 vnone"}));
    // Later scans of the same failure say nothing more.
    EXPECT_TRUE(ch.scan(false, false, true).empty());
}

TEST(DigitalJudge, UnchangedChannelsTakeThePublishedWordWhole) {
    DigitalInput ch{digital({})};
    ch.scan(true, true);
    ch.m |= 0x8000;  // whatever the published word holds is kept
    ch.scan(true);
    EXPECT_NE(ch.w & 0x8000, 0u);
    EXPECT_FALSE(ch.changed);
    EXPECT_EQ(ch.w & sb::kAnalog, 0u);
}

}  // namespace
