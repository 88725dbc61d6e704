#pragma once
// Judging one channel after its kind's scan handler ran: error state, scaling, reference,
// significant change, warning, alarm and event limits, and the notices that follow from
// comparing the new status word with the one published before.
//
// Bits 0x2, 0x40, 0x100 and 0x1000 are carried over between the two status words before
// judging: inputs take them from the published word, outputs give theirs to it.
#include <bit>
#include <cstdint>

#include "qvr/records/channel_record.h"

namespace tolva {

// Status word bits.
namespace status_bit {
inline constexpr uint32_t kState = 0x1;  // digital state / analog significant change
inline constexpr uint32_t kNoDelay = 0x2;
inline constexpr uint32_t kAlarmHigh = 0x4;
inline constexpr uint32_t kEvent = 0x8;
inline constexpr uint32_t kEventHigh = 0x10;
inline constexpr uint32_t kFailed = 0x20;
inline constexpr uint32_t kPosted = 0x40;
inline constexpr uint32_t kAnalog = 0x80;
inline constexpr uint32_t kWarningHigh = 0x200;
inline constexpr uint32_t kWarning = 0x400;
inline constexpr uint32_t kAlarm = 0x800;
inline constexpr uint32_t kCarried = 0x2 | 0x40 | 0x100 | 0x1000;
}  // namespace status_bit

// "No significant value yet": the bit pattern 2147483647 (a NaN, which a judged value never is).
inline constexpr uint32_t kNoSignificantValue = 0x7FFFFFFF;
inline float no_significant_value() {
    return std::bit_cast<float>(kNoSignificantValue);
}
inline bool is_no_significant_value(float v) {
    return std::bit_cast<uint32_t>(v) == kNoSignificantValue;
}

// Where the notices go: the alarm program and the channel's loggers. `value` null = none.
class NoticeSink {
  public:
    virtual ~NoticeSink() = default;
    virtual void post_alarm(int index, uint32_t status, bool drive_common, int priority, int delay,
                            const float* value) = 0;
    virtual void post_event(int index, uint32_t status, const float* value) = 0;
    virtual void post_warning(int index, uint32_t status, int priority, const float* value) = 0;
    virtual void post_warning_event(int index, uint32_t status, const float* value) = 0;
    virtual void trigger_up(int index) = 0;
    virtual void trigger_down(int index) = 0;
    virtual void trigger_level(int index) = 0;
};

// The two status words of a channel, judged in place: the working word (the handler's
// result) and the word published (inputs) or mirrored (outputs) at the last scan.
struct StatusWords {
    uint32_t& working;
    uint32_t& published;
};

// The reading of an analog channel, judged in place: the value is scaled, the last
// significant value follows its significant changes.
struct AnalogReading {
    float& value;
    float& last_significant;
};

struct AnalogJudge {
    int kind = 0;          // AI 0, AO 2, CI 4: scaling only for inputs, reference only for AI
    bool initial = false;  // the initial scan re-evaluates and re-announces every channel
    float reference = 0.0f;
    float published = 0.0f;  // the value published (inputs) or mirrored (outputs) before
};

// Judges an analog channel. True when the channel changed since the last save.
bool judge_analog(int index, const qvr::ChannelRecord& record, const AnalogJudge& how, StatusWords words,
                  AnalogReading reading, NoticeSink& notices);

// Judges a digital channel (bit 0 of the working word is the state). `output` selects the
// carry-over direction. True when the channel changed since the last save.
bool judge_digital(int index, const qvr::ChannelRecord& record, bool initial, bool output, StatusWords words,
                   NoticeSink& notices);

}  // namespace tolva
