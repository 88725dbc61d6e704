// Building and sending AlarmMessages.
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/host_identity.h"
#include "platform/last_error.h"
#include "qvr/host/alarm_internal.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/util/fixed_text.h"

using namespace qvr::alarm_state;

namespace qvr {

std::optional<AlarmMessage> decode_alarm_message(std::span<const std::byte> bytes) {
    if (bytes.size() != kAlarmMessageSize) return std::nullopt;
    AlarmMessage m;
    std::memcpy(&m, bytes.data(), sizeof m);
    return m;
}

std::optional<float> message_value(const AlarmMessage& message) {
    if (message.value_bits == kNoValueBits) return std::nullopt;
    float v;
    std::memcpy(&v, &message.value_bits, sizeof v);
    return v;
}

}  // namespace qvr

namespace {

std::string_view text_or_empty(const char* text) {
    return text != nullptr ? std::string_view(text) : std::string_view();
}

qvr::AlarmMessage new_message(const char* code, uint16_t channel, uint32_t form, const char* computer,
                              const char* user, const float* value) {
    qvr::AlarmMessage m;
    std::memset(&m, 0, sizeof m);
    if (code != nullptr) {
        m.code[0] = code[0];
        m.code[1] = code[0] != '\0' ? code[1] : '\0';
    }
    m.channel = channel;
    m.form = form;
    m.value_bits = qvr::kNoValueBits;
    if (value != nullptr) std::memcpy(&m.value_bits, value, sizeof m.value_bits);
    qvr::set_field_text(m.computer, sizeof m.computer, text_or_empty(computer));
    qvr::set_field_text(m.user, sizeof m.user, text_or_empty(user));
    return m;
}

std::span<const std::byte> bytes_of(const qvr::AlarmMessage& m) {
    return {reinterpret_cast<const std::byte*>(&m), sizeof m};
}

const char* own_computer() {
    return platform::computer_name().c_str();
}
const char* own_user() {
    return platform::user_name().c_str();
}

// Sends a message on the alarm mailslot, which stays open. 0 when delivered or when there is
// no alarm program; -1 when it could not be delivered.
int deliver(const qvr::AlarmMessage& m) {
    const Open o = open_alarm();
    if (o == Open::kNone) return 0;
    if (o == Open::kFailed || send(state().alarm, bytes_of(m), open_alarm) != 0) {
        const int error = errno;
        trace_lost("alarm message", error);
        return platform::fail(error);
    }
    return 0;
}

// System notices close the mailslot after writing, so the next one opens it again.
int deliver_and_close(const qvr::AlarmMessage& m) {
    const int rc = deliver(m);
    const int error = errno;
    alarm_CloseAlarmSlot();
    if (rc != 0) return platform::fail(error);
    return 0;
}

int post_channel(uint32_t form, int index, uint32_t status, int flag, int priority, int delay,
                 const char* computer, const char* user, const float* value) {
    Batch& b = state().batch;
    if (!b.open) return platform::fail(platform::kErrorInvalidArgument);
    if (index < 0 || index >= b.channel_count) return platform::fail(platform::kErrorBadNetName);
    const bool warning = form == qvr::kFormWarning || form == qvr::kFormWarningEvent;
    if (!warning) alarm_CheckDerivedInput(index);

    uint16_t channel = static_cast<uint16_t>(index + 1);
    if (!warning && (status & qvr::kStatusFailed) != 0) channel |= qvr::kChannelFailedBit;
    uint32_t word = form;
    if ((status & qvr::kStatusAnalog) != 0) word |= qvr::kFormAnalog;
    const uint32_t high_bit = warning ? qvr::kStatusWarningHigh : qvr::kStatusAlarmHigh;
    if ((status & high_bit) != 0) word |= qvr::kFormHighSide;
    if (form == qvr::kFormAlarm && flag != 0) word |= qvr::kFormFlag;
    if (form == qvr::kFormAlarm || form == qvr::kFormWarning)
        word |= (static_cast<uint32_t>(priority) & 0xFF) << qvr::kFormPriorityShift;
    const char code[3] = {b.code[0], b.code[1], '\0'};
    qvr::AlarmMessage m = new_message(code, channel, word, computer, user, value);
    if (form == qvr::kFormAlarm) m.delay = static_cast<uint16_t>(delay);
    return deliver(m);
}

}  // namespace

int alarm_PostEvent(int index, uint32_t status, const float* value) {
    return alarm_PostEventAs(index, status, own_computer(), own_user(), value);
}
int alarm_PostEventAs(int index, uint32_t status, const char* computer, const char* user,
                      const float* value) {
    return post_channel(qvr::kFormEvent, index, status, 0, 0, 0, computer, user, value);
}
int alarm_PostWarningEvent(int index, uint32_t status, const float* value) {
    return alarm_PostWarningEventAs(index, status, own_computer(), own_user(), value);
}
int alarm_PostWarningEventAs(int index, uint32_t status, const char* computer, const char* user,
                             const float* value) {
    return post_channel(qvr::kFormWarningEvent, index, status, 0, 0, 0, computer, user, value);
}
int alarm_PostAlarm(int index, uint32_t status, int flag, int priority, int delay, const float* value) {
    return alarm_PostAlarmAs(index, status, flag, priority, delay, own_computer(), own_user(), value);
}
int alarm_PostAlarmAs(int index, uint32_t status, int flag, int priority, int delay, const char* computer,
                      const char* user, const float* value) {
    return post_channel(qvr::kFormAlarm, index, status, flag, priority, delay, computer, user, value);
}
int alarm_PostWarning(int index, uint32_t status, int priority, const float* value) {
    return alarm_PostWarningAs(index, status, priority, own_computer(), own_user(), value);
}
int alarm_PostWarningAs(int index, uint32_t status, int priority, const char* computer, const char* user,
                        const float* value) {
    return post_channel(qvr::kFormWarning, index, status, 0, priority, 0, computer, user, value);
}

int alarm_PostText(const char* code, uint16_t word, const char* text) {
    return alarm_PostTextAs(code, word, text, own_computer(), own_user());
}
int alarm_PostTextAs(const char* code, uint16_t word, const char* text, const char* computer,
                     const char* user) {
    qvr::AlarmMessage m = new_message(code, word, qvr::kFormText, computer, user, nullptr);
    qvr::set_field_text(m.text, sizeof m.text, text_or_empty(text));
    return deliver_and_close(m);
}
int alarm_PostForm3() {
    return alarm_PostForm3As(own_computer(), own_user());
}
int alarm_PostForm3As(const char* computer, const char* user) {
    return deliver_and_close(new_message("  ", 0, qvr::kFormNamesOnly, computer, user, nullptr));
}
int alarm_PostForm6(const char* code, uint16_t word) {
    return alarm_PostForm6As(code, word, own_computer(), own_user());
}
int alarm_PostForm6As(const char* code, uint16_t word, const char* computer, const char* user) {
    return deliver_and_close(new_message(code, word, qvr::kFormCode6, computer, user, nullptr));
}
int alarm_PostForm7(const char* code, uint16_t word) {
    return alarm_PostForm7As(code, word, own_computer(), own_user());
}
int alarm_PostForm7As(const char* code, uint16_t word, const char* computer, const char* user) {
    return deliver_and_close(new_message(code, word, qvr::kFormCode7, computer, user, nullptr));
}
int alarm_PostFlagged(uint16_t word, uint32_t status, const float* value) {
    return alarm_PostFlaggedAs(word, status, own_computer(), own_user(), value);
}
int alarm_PostFlaggedAs(uint16_t word, uint32_t status, const char* computer, const char* user,
                        const float* value) {
    const Batch& b = state().batch;
    const char code[3] = {b.open ? b.code[0] : ' ', b.open ? b.code[1] : ' ', '\0'};
    const uint32_t form = qvr::kFormAlarm | ((status & qvr::kStatusAnalog) != 0 ? qvr::kFormAnalog : 0);
    qvr::AlarmMessage m = new_message(code, word, form, computer, user, value);
    m.trailer = qvr::kTrailerFlagged;
    return deliver_and_close(m);
}
