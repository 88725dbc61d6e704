#pragma once
// Notices to the rest of the runtime when channel values change: one AlarmMessage per
// alarm, warning or event to the alarm program (process "ALARM", mailslot "xalarms"); a
// count of trigger events per logger for each batch of changes (to the logger's process
// slot); and to the derived-value program (process "DERIVED", mailslot "derived") the code of
// a device that changed an input feeding its calculations.
//
// A batch lives on one thread: each thread has its own batch and its own mailslot handles.
// No notice is dropped without a trace: a send waits at most the send time-out (about 1 s;
// after one time-out the rest of the batch does not wait again) and then fails with -1.
// Missing or disabled "ALARM" / "DERIVED" programs silence their notices without error.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qvr {

inline constexpr const char* kAlarmMailslotName = "xalarms";
inline constexpr const char* kDerivedMailslotName = "derived";
inline constexpr const char* kAlarmProcessName = "ALARM";
inline constexpr const char* kDerivedProcessName = "DERIVED";

inline constexpr size_t kAlarmMessageSize = 296;
inline constexpr uint32_t kNoValueBits = 0x7FFFFFFF;
inline constexpr uint16_t kChannelFailedBit = 0x8000;

// Form word fields.
enum AlarmForm : uint32_t {
    kFormAlarm = 0,         // alarm raised (also the flagged form, with trailer bit 0)
    kFormEvent = 1,         // alarm cleared or channel event
    kFormText = 2,          // code, value word, names, text
    kFormNamesOnly = 3,     // names only, code "  "
    kFormWarning = 4,       // warning raised
    kFormWarningEvent = 5,  // warning cleared
    kFormCode6 = 6,         // code and value word
    kFormCode7 = 7,         // code and value word
};
inline constexpr uint32_t kFormMask = 0x7;
inline constexpr uint32_t kFormAnalog = 0x8;
inline constexpr uint32_t kFormHighSide = 0x10;
inline constexpr uint32_t kFormFlag = 0x20;
inline constexpr unsigned kFormPriorityShift = 7;  // bits 7-14
inline constexpr uint32_t kTrailerFlagged = 0x1;

inline constexpr size_t kAlarmComputerSize = 16;  // at most 15 characters
inline constexpr size_t kAlarmUserSize = 33;      // at most 32 characters
inline constexpr size_t kAlarmTextSize = 227;

// Logger event codes: 200,000 + n, or with level triggers in the batch 0x80030D40 + n.
inline constexpr uint32_t kLoggerEventCode = 200000;
inline constexpr uint32_t kLoggerLevelEventCode = 0x80030D40;

#pragma pack(push, 1)
struct AlarmMessage {
    char code[2];
    uint16_t channel;
    uint16_t delay;
    uint16_t reserved6;
    uint32_t form;
    uint32_t value_bits;  // f32 bit pattern; kNoValueBits when no value is given
    char computer[kAlarmComputerSize];
    char user[kAlarmUserSize];
    char text[kAlarmTextSize];
    uint32_t trailer;
};
#pragma pack(pop)
static_assert(sizeof(AlarmMessage) == kAlarmMessageSize);
static_assert(offsetof(AlarmMessage, channel) == 2);
static_assert(offsetof(AlarmMessage, delay) == 4);
static_assert(offsetof(AlarmMessage, form) == 8);
static_assert(offsetof(AlarmMessage, value_bits) == 12);
static_assert(offsetof(AlarmMessage, computer) == 16);
static_assert(offsetof(AlarmMessage, user) == 32);
static_assert(offsetof(AlarmMessage, text) == 65);
static_assert(offsetof(AlarmMessage, trailer) == 292);

// A message as received (296 bytes, little-endian); nullopt for any other length.
std::optional<AlarmMessage> decode_alarm_message(std::span<const std::byte> bytes);
// The parts of a form word.
inline uint32_t form_of(uint32_t form_word) {
    return form_word & kFormMask;
}
inline unsigned priority_of(uint32_t form_word) {
    return (form_word >> kFormPriorityShift) & 0xFF;
}
// The value of a message, nullopt for the no-value pattern.
std::optional<float> message_value(const AlarmMessage& message);

}  // namespace qvr

// Batch of value changes on one data module, on the calling thread. Begin locks the
// module's event module until End, and first posts into the batch the notices that writers
// kept for the module while no batch of it could begin. 0, or -1 (no event module; a batch
// already open, EBUSY).
int alarm_BeginBatch(void* data_area);
// Sends each enabled logger with triggers its event code, unlocks the event module, and
// tells "derived" when a derived input changed. 0; -1 when no batch is open or a send failed
// (the batch is ended all the same).
int alarm_EndBatch();

// Trigger counts of channel `index` (0-based) for the loggers whose bitmap has its bit.
// 0, or -1 outside a batch or beyond the channel count.
int alarm_LoggerTriggerUp(int index);
int alarm_LoggerTriggerDown(int index);
int alarm_LoggerTriggerLevel(int index);
// 1 when the channel feeds derived values (a hit is counted), else 0.
int alarm_CheckDerivedInput(int index);

// Channel notices (index 0-based). The plain forms stamp this computer's and user's names;
// the As forms take them from the caller. `value` may be null (no value). 0 (also when there
// is no alarm program), -1 outside a batch, beyond the channel count, or when the message
// could not be delivered.
int alarm_PostEvent(int index, uint32_t status, const float* value = nullptr);
int alarm_PostEventAs(int index, uint32_t status, const char* computer, const char* user, const float* value);
int alarm_PostWarningEvent(int index, uint32_t status, const float* value = nullptr);
int alarm_PostWarningEventAs(int index, uint32_t status, const char* computer, const char* user,
                             const float* value);
int alarm_PostAlarm(int index, uint32_t status, int flag, int priority, int delay,
                    const float* value = nullptr);
int alarm_PostAlarmAs(int index, uint32_t status, int flag, int priority, int delay, const char* computer,
                      const char* user, const float* value);
int alarm_PostWarning(int index, uint32_t status, int priority, const float* value = nullptr);
int alarm_PostWarningAs(int index, uint32_t status, int priority, const char* computer, const char* user,
                        const float* value);

// System notices; they need no batch and close the alarm mailslot after writing. 0, or -1
// when the alarm program exists but the message could not be delivered.
int alarm_PostText(const char* code, uint16_t word, const char* text);
int alarm_PostTextAs(const char* code, uint16_t word, const char* text, const char* computer,
                     const char* user);
int alarm_PostForm3();
int alarm_PostForm3As(const char* computer, const char* user);
int alarm_PostForm6(const char* code, uint16_t word);
int alarm_PostForm6As(const char* code, uint16_t word, const char* computer, const char* user);
int alarm_PostForm7(const char* code, uint16_t word);
int alarm_PostForm7As(const char* code, uint16_t word, const char* computer, const char* user);
// The flagged form: the current batch's code (blank outside one), the caller's word, the
// analog bit of `status`, the value.
int alarm_PostFlagged(uint16_t word, uint32_t status, const float* value);
int alarm_PostFlaggedAs(uint16_t word, uint32_t status, const char* computer, const char* user,
                        const float* value);

// The calling thread's mailslot handles, opened when the program runs (a failed open is not
// remembered). Handle (a descriptor) or -1.
int alarm_OpenAlarmSlot();
int alarm_OpenDerivedSlot();
void alarm_CloseAlarmSlot();
void alarm_CloseDerivedSlot();
