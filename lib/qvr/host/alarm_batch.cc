// The batch of value changes: trigger counts per logger and derived-input hits, and what
// the end of a batch sends.
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/last_error.h"
#include "qvr/host/alarm_internal.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/host/device_modules.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"

using namespace qvr::alarm_state;

namespace {

enum class Trigger { kUp, kDown, kLevel };

int trigger(int index, Trigger kind) {
    Batch& b = state().batch;
    if (!b.open) return platform::fail(platform::kErrorInvalidArgument);
    if (index < 0 || index >= b.channel_count) return platform::fail(platform::kErrorBadNetName);
    if (kind != Trigger::kLevel) alarm_CheckDerivedInput(index);
    for (size_t i = 0; i < b.events.size(); ++i) {
        const auto bit = qvr::event_bit(b.event_bytes, b.channel_count, static_cast<uint32_t>(i + 1),
                                        static_cast<uint32_t>(index));
        if (!bit || !*bit) continue;
        if (kind == Trigger::kUp) ++b.events[i];
        if (kind == Trigger::kDown) --b.events[i];
        if (kind == Trigger::kLevel) ++b.levels[i];
    }
    return 0;
}

// Sends the loggers their codes; false when a send failed.
bool send_logger_codes(Batch& b) {
    bool delivered = true;
    for (size_t i = 0; i < b.events.size(); ++i) {
        if (b.events[i] == 0 && b.levels[i] == 0) continue;
        const LoggerRecord* r = shm_LoggerByIndex(static_cast<int>(i + 1));
        if (r == nullptr || (r->LoggerEnabled & 1) == 0 || r->LoggerPid == 0) continue;
        const uint32_t base = b.levels[i] != 0 ? qvr::kLoggerLevelEventCode : qvr::kLoggerEventCode;
        if (slot_SendCode(r->LoggerPid, base + static_cast<uint32_t>(b.events[i])) != 0) {
            trace_lost("logger event code", errno);
            delivered = false;
        }
    }
    return delivered;
}

bool send_derived(const char code[2]) {
    const Open o = open_derived();
    if (o == Open::kNone) return true;
    const std::byte message[2] = {static_cast<std::byte>(code[0]), static_cast<std::byte>(code[1])};
    if (o == Open::kFailed || send(state().derived, message, open_derived) != 0) {
        trace_lost("derived-value notice", errno);
        return false;
    }
    return true;
}

// Posts, into the batch just begun, the notices kept for its module while no batch of it
// could begin: first, so they stay ahead of the batch's own.
void post_kept(const Batch& b) {
    for (const KeptNotice& n : take_kept(b.code)) {
        if (n.index < 0 || n.index >= b.channel_count) {
            trace_lost("a kept notice beyond the module's channels", platform::kErrorBadNetName);
            continue;
        }
        const float* value = n.value ? &*n.value : nullptr;
        const char* computer = n.computer.c_str();
        const char* user = n.user.c_str();
        // A failed send traces itself, as any other in a batch.
        switch (n.kind) {
            case KeptKind::kAlarm:
                alarm_PostAlarmAs(n.index, n.status, n.flag, n.priority, n.delay, computer, user, value);
                break;
            case KeptKind::kEvent:
                alarm_PostEventAs(n.index, n.status, computer, user, value);
                break;
            case KeptKind::kWarning:
                alarm_PostWarningAs(n.index, n.status, n.priority, computer, user, value);
                break;
            case KeptKind::kWarningEvent:
                alarm_PostWarningEventAs(n.index, n.status, computer, user, value);
                break;
            case KeptKind::kTriggerUp:
                trigger(n.index, Trigger::kUp);
                break;
            case KeptKind::kTriggerDown:
                trigger(n.index, Trigger::kDown);
                break;
            case KeptKind::kTriggerLevel:
                trigger(n.index, Trigger::kLevel);
                break;
        }
    }
}

}  // namespace

int alarm_BeginBatch(void* data_area) {
    Batch& b = state().batch;
    if (b.open) return platform::fail(EBUSY);
    if (data_area == nullptr) return platform::fail(platform::kErrorInvalidArgument);
    void* data = static_cast<std::byte*>(data_area) - qvr::kSectionDataOffset;
    const auto layout = qvr::data_module_layout(qvr::section_bytes(data), false);
    if (!layout) return platform::fail(platform::kErrorInvalidArgument);
    const char code[3] = {layout->code[0], layout->code[1], '\0'};
    void* event = shm_OpenDeviceEvent(code);
    if (event == nullptr) return -1;
    if (shm_Lock(event) != 0) return -1;
    const uint32_t loggers = qvr::logger_count();
    b.events.assign(loggers, 0);
    b.levels.assign(loggers, 0);
    b.derived_hits = 0;
    std::memcpy(b.code, layout->code, 2);
    b.event = event;
    b.event_bytes = qvr::section_bytes(event);
    b.channel_count = layout->channel_count;
    b.open = true;
    state().alarm.stalled = false;
    const int saved_errno = errno;
    const int saved_last_error = platform::last_error();
    post_kept(b);
    platform::set_last_error(saved_last_error);
    errno = saved_errno;
    return 0;
}

int alarm_EndBatch() {
    Batch& b = state().batch;
    if (!b.open) return platform::fail(platform::kErrorInvalidArgument);
    bool delivered = send_logger_codes(b);
    shm_Unlock(b.event);
    if (b.derived_hits != 0) delivered = send_derived(b.code) && delivered;
    const int error = errno;
    b = Batch{};
    return delivered ? 0 : platform::fail(error);
}

int alarm_LoggerTriggerUp(int index) {
    return trigger(index, Trigger::kUp);
}
int alarm_LoggerTriggerDown(int index) {
    return trigger(index, Trigger::kDown);
}
int alarm_LoggerTriggerLevel(int index) {
    return trigger(index, Trigger::kLevel);
}

int alarm_CheckDerivedInput(int index) {
    Batch& b = state().batch;
    if (!b.open || index < 0 || index >= b.channel_count) return 0;
    const auto bit = qvr::event_bit(b.event_bytes, b.channel_count, 0, static_cast<uint32_t>(index));
    if (!bit || !*bit) return 0;
    ++b.derived_hits;
    return 1;
}
