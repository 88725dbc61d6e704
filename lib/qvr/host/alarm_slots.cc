// The alarm and derived mailslots of the calling thread.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/debug_output.h"
#include "qvr/testing/process_state_testing.h"
#include "platform/last_error.h"
#include "platform/monotonic_clock.h"
#include "qvr/host/alarm_internal.h"
#include "qvr/host/host_tables.h"

namespace qvr::alarm_state {
namespace {

// How long to wait before looking for the derived program again, doubling up to 10 s.
constexpr int64_t kFirstBackoffMs = 250;
constexpr int64_t kMaxBackoffMs = 10000;

bool program_enabled(const char* name) {
    const ProcessRecord* r = shm_FindProcess(name);
    return r != nullptr && r->ProcEnabled != 0;
}

void back_off(Mailslot& m) {
    m.backoff_ms = m.backoff_ms == 0 ? kFirstBackoffMs : std::min(kMaxBackoffMs, m.backoff_ms * 2);
    m.next_try_ms = platform::monotonic_ms() + m.backoff_ms;
}

}  // namespace

ThreadState& state() {
    thread_local ThreadState s;
    return s;
}

Open open_alarm() {
    Mailslot& m = state().alarm;
    if (m.sender) return Open::kOpen;
    if (!program_enabled(kAlarmProcessName)) return Open::kNone;
    // Only a success is kept: the alarm program may still be starting.
    m.sender = platform::MailslotSender::open(kAlarmMailslotName);
    return m.sender ? Open::kOpen : Open::kFailed;
}

Open open_derived() {
    Mailslot& m = state().derived;
    if (m.sender) return Open::kOpen;
    // Looked for lazily and never waited for: the caller may hold a section lock.
    if (platform::monotonic_ms() < m.next_try_ms) {
        // Until the next look, notices to a program that runs without its mailslot are lost
        // as at the last look, not silenced.
        if (!m.open_error) return Open::kNone;
        platform::set_last_error(*m.open_error);
        return Open::kFailed;
    }
    m.open_error.reset();
    if (!program_enabled(kDerivedProcessName)) {
        back_off(m);
        return Open::kNone;
    }
    m.sender = platform::MailslotSender::open(kDerivedMailslotName);
    if (!m.sender) {
        m.open_error = errno;
        back_off(m);
        return Open::kFailed;
    }
    m.backoff_ms = 0;
    return Open::kOpen;
}

int send(Mailslot& slot, std::span<const std::byte> message, Open (*reopen)()) {
    auto attempt = [&] {
        return slot.stalled ? platform::mailslot_try_send_on(slot.sender->fd(), message)
                            : slot.sender->send(message);
    };
    if (!slot.sender) return platform::fail(ENOENT);
    if (attempt() == 0) {
        slot.stalled = false;
        return 0;
    }
    if (errno == ETIMEDOUT) {
        // The receiver lives but does not read; waiting again for every message of a batch
        // would hold the caller's locks for seconds.
        slot.stalled = true;
        return -1;
    }
    // The receiver restarted or went away: the handle is dead. Open again once and resend.
    slot.sender.reset();
    slot.next_try_ms = 0;
    if (reopen() != Open::kOpen) return platform::fail(ENOENT);
    if (attempt() != 0) {
        const int error = errno;
        if (error != ETIMEDOUT) slot.sender.reset();
        slot.stalled = error == ETIMEDOUT;
        return platform::fail(error);
    }
    slot.stalled = false;
    return 0;
}

void trace_lost(const char* what, int error) {
    char text[128];
    std::snprintf(text, sizeof text, "notice not delivered: %s (error %d: %s)\n", what, error,
                  std::strerror(error));
    platform::debug_output(text);
    platform::set_last_error(error);
}

}  // namespace qvr::alarm_state

using namespace qvr::alarm_state;

int alarm_OpenAlarmSlot() {
    return open_alarm() == Open::kOpen ? state().alarm.sender->fd() : -1;
}

int alarm_OpenDerivedSlot() {
    return open_derived() == Open::kOpen ? state().derived.sender->fd() : -1;
}

void alarm_CloseAlarmSlot() {
    state().alarm.sender.reset();
    state().alarm.stalled = false;
}

void alarm_CloseDerivedSlot() {
    Mailslot& m = state().derived;
    m.sender.reset();
    m.stalled = false;
    m.next_try_ms = 0;
    m.backoff_ms = 0;
    m.open_error.reset();
}

void qvr::testing::forget_notice_senders() {
    alarm_state::state() = alarm_state::ThreadState{};
}
