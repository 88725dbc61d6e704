// The save grid and what the command loop does at a wake-up when outputs are saved.
#include <gtest/gtest.h>

#include "tolva_sc/save_timer.h"

namespace {

TimeStamp at(int32_t seconds, int16_t ms = 0) {
    return TimeStamp{seconds, ms, 0};
}

TEST(SaveGrid, NextInstantIsWhatIsLeftOfTheCurrentPeriod) {
    struct Case {
        TimeStamp now, anchor;
        int32_t period;
        TimeStamp expected;
    };
    const Case cases[] = {
        {at(100), at(100), 1000, at(101)},               // on the grid: a whole period
        {at(100, 250), at(100), 1000, at(101)},          // within a period
        {at(100, 999), at(99, 500), 1000, at(101, 500)}, // milliseconds carried into the seconds
        {at(90), at(100), 1000, at(91)},                 // before the anchor: a whole period
        {at(100), at(100), 0, at(100)},                  // no period: now
        // Periods beyond 2,147,483 ms over a long elapsed time (the product would pass 32 bits).
        {at(2'000'000'000, 0), at(0), 3'000'000, at(2'000'000'000 + 1'000)},
        {at(1'000'000'000, 700), at(0, 900), 2'147'483'647, at(1'000'727'380, 402)},
    };
    for (const Case& c : cases) {
        const TimeStamp got = tolva::next_grid_instant(c.now, c.anchor, c.period);
        EXPECT_EQ(got.seconds, c.expected.seconds) << c.now.seconds << " period " << c.period;
        EXPECT_EQ(got.milliseconds, c.expected.milliseconds) << c.now.seconds << " period " << c.period;
    }
}

TEST(SaveTimer, WaitsOnlyTheTimeLeftUntilTheSaveIsDue) {
    tolva::SaveTimer timer;
    timer.start(at(1000), 5000);
    EXPECT_EQ(timer.next().seconds, 1005);
    auto step = timer.step(at(1001, 500));
    EXPECT_FALSE(step.save);
    ASSERT_TRUE(step.wait);
    EXPECT_EQ(step.wait_ms, 3500u);  // not "until the next command"
    step = timer.step(at(1005));
    EXPECT_TRUE(step.save);
    EXPECT_FALSE(step.wait);
    EXPECT_EQ(timer.next().seconds, 1010);
    // A late wake-up keeps the grid.
    step = timer.step(at(1017, 200));
    EXPECT_TRUE(step.save);
    EXPECT_EQ(timer.next().seconds, 1020);
}

TEST(SaveTimer, ClockSetFarBackOrForwardRestartsTheGridFromNow) {
    tolva::SaveTimer timer;
    timer.start(at(1000), 5000);
    auto step = timer.step(at(900));  // set back by more than the period
    EXPECT_TRUE(step.save);
    EXPECT_EQ(timer.next().seconds, 905);
    step = timer.step(at(5000, 100));  // far forward
    EXPECT_TRUE(step.save);
    EXPECT_EQ(timer.next().seconds, 5005);
    EXPECT_EQ(timer.next().milliseconds, 100);
}

TEST(SaveTimer, NoPeriodSavesAtEveryWakeUpAndThenWaitsForACommand) {
    for (int32_t period : {0, -5}) {
        tolva::SaveTimer timer;
        timer.start(at(1000), period);
        for (int i = 0; i < 3; ++i) {
            const auto step = timer.step(at(1000 + i));
            EXPECT_TRUE(step.save);
            EXPECT_TRUE(step.wait);
            EXPECT_EQ(step.wait_ms, 0u);
        }
    }
}

}  // namespace
