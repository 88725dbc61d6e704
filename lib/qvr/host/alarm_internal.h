#pragma once
// The calling thread's batch and mailslot state, shared by the notice sources.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/mailslot.h"
#include "qvr/host/alarm.h"

namespace qvr::alarm_state {

struct Mailslot {
    std::optional<platform::MailslotSender> sender;
    bool stalled = false;     // a send timed out: do not wait again until one succeeds
    int64_t next_try_ms = 0;  // derived slot: when to look for it again
    int64_t backoff_ms = 0;
    std::optional<int> open_error;  // derived slot: why the last look found the program but no mailslot
};

struct Batch {
    bool open = false;
    char code[2] = {0, 0};
    void* event = nullptr;
    std::span<const std::byte> event_bytes;
    uint16_t channel_count = 0;
    std::vector<int32_t> events;  // per logger
    std::vector<int32_t> levels;
    uint32_t derived_hits = 0;
};

struct ThreadState {
    Batch batch;
    Mailslot alarm;
    Mailslot derived;
};

ThreadState& state();

enum class Open { kNone, kOpen, kFailed };
// The alarm mailslot: none when no enabled "ALARM" process exists.
Open open_alarm();
Open open_derived();
// Sends one message on `slot` (opened by `reopen`), reopening once after a failure other
// than a time-out. 0 or -1 with errno set.
int send(Mailslot& slot, std::span<const std::byte> message, Open (*reopen)());

// Writes a trace line for a notice that could not be delivered.
void trace_lost(const char* what, int error);

// ---- Notices of writes whose batch could not begin ----
// Kept, process-wide, for the next batch of their module, which posts them before its own:
// only a batch of that module has its event bitmaps and holds its event lock.
enum class KeptKind { kAlarm, kEvent, kWarning, kWarningEvent, kTriggerUp, kTriggerDown, kTriggerLevel };
struct KeptNotice {
    char code[2] = {0, 0};
    KeptKind kind = KeptKind::kEvent;
    int index = 0;  // channel index, 0-based
    uint32_t status = 0;
    int flag = 0;
    int priority = 0;
    int delay = 0;
    std::string computer;
    std::string user;
    std::optional<float> value;
};
// At most this many are kept; beyond it the oldest is dropped, traced.
inline constexpr size_t kMaxKeptNotices = 1024;
void keep(KeptNotice notice);
// Takes out the notices kept for module `code`, oldest first.
std::vector<KeptNotice> take_kept(const char code[2]);

}  // namespace qvr::alarm_state
