#include "qvr/ipc/slot.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "platform/event.h"
#include "platform/ipc_names.h"
#include "platform/last_error.h"
#include "platform/mailslot.h"
#include "platform/monotonic_clock.h"
#include "qvr/ipc/slot_internal.h"
#include "qvr/testing/slot_testing.h"

namespace {

constexpr size_t kCodeSize = 4;
constexpr size_t kMaxWaitHandles = 10;
// Codes taken off the socket but not yet handled. Beyond this the reader stops reading and
// senders see their time-out, rather than the process growing without bound.
constexpr size_t kMaxQueuedCodes = 65536;
constexpr int kReadRetryMs = 10;

void trace(const char* format, long a, long b = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    platform::debug_output(text);
}

uint32_t decode(const std::byte* b) {
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void encode(uint32_t code, std::byte* b) {
    for (int i = 0; i < 4; ++i) b[i] = static_cast<std::byte>(code >> (8 * i));
}

struct SlotState {
    std::mutex open_mutex;  // serialises open and close

    // The critical section: the callback runs inside it; the gate is tested inside it.
    std::mutex cs;
    std::condition_variable allowed_cv;
    std::atomic<bool> commands_allowed{true};
    std::atomic<SlotCallback> callback{nullptr};
    std::atomic<std::thread::id> callback_thread{};  // thread inside the callback, if any

    std::mutex queue_mutex;
    std::condition_variable queue_cv;
    std::deque<uint32_t> queue;
    // Codes queued or in the dispatch thread's hands, not yet handled: an own code goes
    // behind them rather than overtake them.
    std::atomic<size_t> undelivered{0};

    std::atomic<bool> open{false};
    std::atomic<bool> stopping{false};
    // Sends to the own process and waits under way: close waits for them to leave before it
    // releases what they use (the queue, the callback, the wake-up list).
    std::mutex users_mutex;
    std::condition_variable users_cv;
    int users_under_way = 0;
    std::optional<platform::MailslotReceiver> receiver;
    std::optional<platform::Event> stop_event;
    std::thread reader;
    std::thread dispatcher;

    // The code-handled event, kept as a count of codes handled (never reset) and a list of
    // the waits under way, each woken through a descriptor of its own. A wait ends once the
    // count passed the value it started from, so a code handled before the wait began still
    // ends it, and one waiter can never take another's wake-up.
    std::mutex wake_mutex;
    uint64_t handled_count = 0;
    uint64_t count_at_open = 0;
    uint64_t generation = 0;  // opens so far
    std::vector<const platform::Event*> waiters;

    // The caller's own handles; while the slot is open the code-handled event counts as the
    // first of the ten a wait may hold.
    std::mutex handles_mutex;
    std::vector<int> handles;

    std::atomic<uint32_t> last_code{0};
    std::atomic<bool> pump_messages{false};
    std::atomic<long> dropped_messages{0};
    std::atomic<int> injected_errors{0};
    std::atomic<int> injected_error_code{0};
    std::atomic<void (*)()> own_delivery_hook{nullptr};

    ~SlotState();
};

// At namespace scope, so the threads that its destructor stops may still reach it.
SlotState g_slot;

SlotState& state() {
    return g_slot;
}

uint32_t own_pid() {
    static const uint32_t pid = static_cast<uint32_t>(getpid());
    return pid;
}

bool in_callback() {
    return state().callback_thread.load() == std::this_thread::get_id();
}

// Runs the callback for one code; the caller holds the critical section.
void run_callback(uint32_t code) {
    SlotState& s = state();
    s.last_code = code;
    const std::thread::id outer = s.callback_thread.exchange(std::this_thread::get_id());
    if (SlotCallback cb = s.callback.load()) cb(code);
    s.callback_thread = outer;
}

void wake_waiters_locked(SlotState& s) {
    for (const platform::Event* w : s.waiters) w->set();
}

// Sets the code-handled event: after the callback, so a woken waiter sees what it did.
void note_code_handled() {
    SlotState& s = state();
    std::lock_guard lock(s.wake_mutex);
    ++s.handled_count;
    wake_waiters_locked(s);
}

// The descriptor through which this thread's waits are woken.
const platform::Event* own_wake_event() {
    thread_local std::optional<platform::Event> event;
    if (!event) event = platform::Event::create(false);
    return event ? &*event : nullptr;
}

// The codes this thread's slot_Wait has seen handled, per open of the slot.
struct WaitMark {
    uint64_t generation = 0;
    uint64_t seen = 0;
};
thread_local WaitMark t_wait_mark;

void set_allowed(bool allowed) {
    SlotState& s = state();
    if (in_callback()) {
        // Already inside the critical section on this thread.
        s.commands_allowed = allowed;
        return;
    }
    {
        std::lock_guard lock(s.cs);
        s.commands_allowed = allowed;
    }
    if (allowed) s.allowed_cv.notify_all();
}

// Queues a code for the dispatch thread. false when the slot is stopping.
bool enqueue(uint32_t code, bool wait_for_room) {
    SlotState& s = state();
    {
        std::unique_lock lock(s.queue_mutex);
        if (wait_for_room)
            s.queue_cv.wait(lock, [&] { return s.stopping || s.queue.size() < kMaxQueuedCodes; });
        if (s.stopping) return false;
        s.queue.push_back(code);
        ++s.undelivered;
    }
    s.queue_cv.notify_all();
    return true;
}

// Reads one waiting message; the length, or -1 with errno (EAGAIN when none waits).
ssize_t read_message(std::byte* buffer, size_t size) {
    SlotState& s = state();
    int left = s.injected_errors.load();
    while (left > 0) {
        if (s.injected_errors.compare_exchange_weak(left, left - 1)) {
            errno = s.injected_error_code.load();
            return -1;
        }
    }
    return s.receiver->receive(std::span(buffer, size));
}

void reader_loop() {
    SlotState& s = state();
    const int fds[2] = {s.receiver->fd(), s.stop_event->fd()};
    bool error_traced = false;
    auto back_off = [&](int error) {
        if (!error_traced) {
            trace("process slot: read failed (error %ld), retrying every %ld ms\n", error, kReadRetryMs);
            error_traced = true;
        }
        s.stop_event->wait(kReadRetryMs);
    };
    while (!s.stopping) {
        const int ready = platform::wait_any_readable(fds, -1);
        if (s.stopping) break;
        if (ready < 0) {
            back_off(errno);
            continue;
        }
        // Drain everything that waits, so senders never stall on a full socket queue.
        for (;;) {
            std::byte buffer[kCodeSize + 1];
            const ssize_t n = read_message(buffer, sizeof buffer);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) break;
                if (errno == EINTR) continue;
                back_off(errno);
                break;
            }
            error_traced = false;
            if (static_cast<size_t>(n) != kCodeSize) {
                const long dropped = ++s.dropped_messages;
                trace("process slot: dropped a message of %ld bytes (%ld dropped)\n", static_cast<long>(n),
                      dropped);
                continue;
            }
            if (!enqueue(decode(buffer), true)) return;
        }
    }
}

// Hands one code to the callback once commands are allowed. false when stopping.
bool dispatch(uint32_t code) {
    SlotState& s = state();
    {
        std::unique_lock lock(s.cs);
        s.allowed_cv.wait(lock, [&] { return s.commands_allowed.load() || s.stopping.load(); });
        if (s.stopping) return false;
        run_callback(code);
    }
    note_code_handled();
    return true;
}

void dispatcher_loop() {
    SlotState& s = state();
    for (;;) {
        uint32_t code = 0;
        {
            std::unique_lock lock(s.queue_mutex);
            s.queue_cv.wait(lock, [&] { return s.stopping || !s.queue.empty(); });
            if (s.stopping) return;
            code = s.queue.front();
            s.queue.pop_front();
        }
        s.queue_cv.notify_all();  // room for the reader
        const bool delivered = dispatch(code);
        --s.undelivered;
        if (!delivered) return;
    }
}

// Admits one send to the own process, or one wait, while the slot is open and not closing.
bool enter_use() {
    SlotState& s = state();
    std::lock_guard lock(s.users_mutex);
    if (!s.open || s.stopping) return false;
    ++s.users_under_way;
    return true;
}

void leave_use() {
    SlotState& s = state();
    {
        std::lock_guard lock(s.users_mutex);
        --s.users_under_way;
    }
    s.users_cv.notify_all();
}

class SlotUse {
  public:
    SlotUse() : admitted_(enter_use()) {}
    ~SlotUse() {
        if (admitted_) leave_use();
    }
    SlotUse(const SlotUse&) = delete;
    SlotUse& operator=(const SlotUse&) = delete;
    bool admitted() const { return admitted_; }

  private:
    const bool admitted_;
};

// Once stopping is set no new send or wait is admitted; the ones admitted before finish
// (close has woken the waits).
void wait_for_users(SlotState& s) {
    std::unique_lock lock(s.users_mutex);
    s.users_cv.wait(lock, [&] { return s.users_under_way == 0; });
}

// Ends every wait under way; they see `stopping` and return.
void wake_all_waits(SlotState& s) {
    std::lock_guard lock(s.wake_mutex);
    wake_waiters_locked(s);
}

void stop_threads(SlotState& s) {
    s.stopping = true;
    wake_all_waits(s);
    s.stop_event->set();
    { std::lock_guard lock(s.queue_mutex); }
    s.queue_cv.notify_all();
    { std::lock_guard lock(s.cs); }
    s.allowed_cv.notify_all();
    if (s.reader.joinable()) s.reader.join();
    if (s.dispatcher.joinable()) s.dispatcher.join();
}

void release_resources() {
    SlotState& s = state();
    {
        std::lock_guard lock(s.queue_mutex);
        s.queue.clear();
        s.undelivered = 0;
    }
    s.receiver.reset();
    s.stop_event.reset();
    s.callback = nullptr;
    s.commands_allowed = true;
    s.open = false;
}

SlotState::~SlotState() {
    if (!open) return;
    if (callback_thread.load() == std::this_thread::get_id()) {
        // The process ends from inside the callback: the dispatch thread cannot be joined.
        stopping = true;
        if (stop_event) stop_event->set();
        dispatcher.detach();
        reader.detach();
        return;
    }
    stop_threads(*this);
}

}  // namespace

namespace qvr::slot_internal {

std::string process_slot_name(uint32_t pid) {
    return "dm_" + std::to_string(pid) + ".slt";
}

std::vector<int> held_handles() {
    SlotState& s = state();
    std::lock_guard lock(s.handles_mutex);
    return s.handles;
}

CodeWait::CodeWait() {
    SlotState& s = state();
    if (in_callback()) {
        refusal_ = EDEADLK;
        return;
    }
    event_ = own_wake_event();
    if (event_ == nullptr) {
        refusal_ = errno;
        return;
    }
    if (!enter_use()) {
        refusal_ = EDEADLK;
        return;
    }
    admitted_ = true;
    std::lock_guard lock(s.wake_mutex);
    s.waiters.push_back(event_);
    generation_ = s.generation;
    from_ = s.handled_count;
}

CodeWait::~CodeWait() {
    leave();
}

void CodeWait::start_from_now() {
    SlotState& s = state();
    std::lock_guard lock(s.wake_mutex);
    from_ = s.handled_count;
}

void CodeWait::start_from_last_wait() {
    SlotState& s = state();
    std::lock_guard lock(s.wake_mutex);
    from_ = t_wait_mark.generation == generation_ ? t_wait_mark.seen : s.count_at_open;
}

int CodeWait::wait(uint32_t milliseconds, std::span<const int> handles) {
    SlotState& s = state();
    set_allowed(true);
    std::vector<int> fds;
    fds.reserve(handles.size() + 1);
    fds.push_back(event_->fd());
    fds.insert(fds.end(), handles.begin(), handles.end());
    const platform::Deadline deadline =
        milliseconds == 0 ? platform::Deadline::forever() : platform::Deadline::after_ms(milliseconds);
    auto ended = [&] {
        std::lock_guard lock(s.wake_mutex);
        end_ = s.handled_count;
        return end_ > from_ || s.stopping;
    };
    for (;;) {
        // Cleared before the count is looked at, so a code handled after the look sets it.
        event_->reset();
        if (ended()) return 0;
        const int ready = platform::wait_any_readable(fds, deadline.remaining_ms());
        if (ready == 0) continue;
        const int error = errno;
        ended();
        if (ready > 0 || error == ETIMEDOUT) return 0;
        return platform::fail(error);
    }
}

void CodeWait::mark_seen() const {
    if (admitted_) t_wait_mark = WaitMark{generation_, end_};
}

void CodeWait::leave() {
    if (!admitted_) return;
    SlotState& s = state();
    {
        std::lock_guard lock(s.wake_mutex);
        std::erase(s.waiters, event_);
    }
    admitted_ = false;
    leave_use();
}

}  // namespace qvr::slot_internal

namespace qvr::slot_testing {

void inject_read_errors(int count, int error) {
    state().injected_error_code = error;
    state().injected_errors = count;
}

void set_own_delivery_hook(void (*hook)()) {
    state().own_delivery_hook = hook;
}

}  // namespace qvr::slot_testing

SlotCallback slot_Open(SlotCallback callback) {
    SlotState& s = state();
    std::lock_guard open_lock(s.open_mutex);
    if (s.open) {
        // Swapping under the critical section waits for a running callback.
        SlotCallback previous;
        if (in_callback()) {
            previous = s.callback.exchange(callback);
        } else {
            std::lock_guard lock(s.cs);
            previous = s.callback.exchange(callback);
        }
        platform::set_last_error(0);
        return previous;
    }

    {
        std::lock_guard lock(s.handles_mutex);
        if (s.handles.size() >= kMaxWaitHandles) {
            platform::fail(ENOSPC);
            return nullptr;
        }
    }
    auto receiver = platform::MailslotReceiver::create(qvr::slot_internal::process_slot_name(own_pid()));
    if (!receiver) return nullptr;
    auto stop_event = platform::Event::create(false);
    if (!stop_event) return nullptr;
    s.receiver = std::move(receiver);
    s.stop_event = std::move(stop_event);
    s.callback = callback;
    s.commands_allowed = true;
    s.stopping = false;
    s.dropped_messages = 0;
    {
        // The code-handled event starts clear.
        std::lock_guard lock(s.wake_mutex);
        ++s.generation;
        s.count_at_open = s.handled_count;
    }
    s.open = true;
    try {
        s.reader = std::thread(reader_loop);
        s.dispatcher = std::thread(dispatcher_loop);
    } catch (const std::system_error& e) {
        const int error = e.code().value();
        stop_threads(s);
        wait_for_users(s);
        release_resources();
        platform::fail(error);
        return nullptr;
    }
    platform::set_last_error(0);
    return nullptr;
}

void slot_Close() {
    SlotState& s = state();
    std::lock_guard open_lock(s.open_mutex);
    if (!s.open) return;
    if (in_callback()) {
        platform::debug_output("process slot: close refused inside the callback\n");
        return;
    }
    stop_threads(s);
    wait_for_users(s);
    release_resources();
}

int slot_SendCode(uint32_t pid, uint32_t code) {
    SlotState& s = state();
    if (pid == own_pid()) {
        const SlotUse send;
        if (!send.admitted()) return platform::fail(ENOENT);
        if (!in_callback()) {
            // A callback running elsewhere may be waiting for a section lock the sender holds;
            // then the code is queued rather than waiting for the critical section.
            std::unique_lock lock(s.cs, std::try_to_lock);
            if (lock.owns_lock() && s.commands_allowed && s.undelivered == 0) {
                run_callback(code);
                lock.unlock();
                if (auto hook = s.own_delivery_hook.load()) hook();
                note_code_handled();
                return 0;
            }
        }
        // Held (possibly by this very thread), busy, behind codes not yet handled, or sent
        // from inside the callback: the dispatch thread delivers it in turn once commands are
        // allowed, rather than wait for ever.
        if (!enqueue(code, false)) return platform::fail(ENOENT);
        return 0;
    }
    auto sender = platform::MailslotSender::open(qvr::slot_internal::process_slot_name(pid));
    if (!sender) return -1;
    std::byte message[kCodeSize];
    encode(code, message);
    return sender->send(message);
}

int slot_Wait(uint32_t milliseconds) {
    SlotState& s = state();
    const std::vector<int> handles = qvr::slot_internal::held_handles();
    qvr::slot_internal::CodeWait wait;
    if (wait.admitted()) {
        wait.start_from_last_wait();
        const int rc = wait.wait(milliseconds, handles);
        wait.mark_seen();
        return rc;
    }
    if (wait.refusal() != EDEADLK) return platform::fail(wait.refusal());
    // No code can end this wait: the slot is closed, or this is the callback's own thread.
    if (s.open && in_callback()) set_allowed(true);
    if (handles.empty()) {
        if (milliseconds == 0) return platform::fail(EDEADLK);
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return 0;
    }
    if (platform::wait_any_readable(handles, milliseconds == 0 ? -1 : static_cast<int>(milliseconds)) < 0 &&
        errno != ETIMEDOUT)
        return -1;
    return 0;
}

int slot_WaitTicks(uint32_t ticks) {
    return slot_Wait(ticks * 10);
}

int slot_HoldCommands(int flag) {
    if (!state().open) return platform::fail(ENOENT);
    set_allowed(flag == 0);
    return 0;
}

void slot_BlockCommands() {
    state().commands_allowed = false;
}

void slot_PumpMessages() {
    state().pump_messages = true;
}

int slot_AddWaitHandle(int handle) {
    SlotState& s = state();
    std::lock_guard lock(s.handles_mutex);
    const size_t room = s.open ? kMaxWaitHandles - 1 : kMaxWaitHandles;
    if (s.handles.size() >= room) return platform::fail(ENOSPC);
    s.handles.push_back(handle);
    return 0;
}

int slot_RemoveWaitHandle(int handle) {
    SlotState& s = state();
    std::lock_guard lock(s.handles_mutex);
    auto it = std::find(s.handles.begin(), s.handles.end(), handle);
    if (it == s.handles.end()) return platform::fail(ENOENT);
    s.handles.erase(it);
    return 0;
}

uint32_t slot_LastCode() {
    return state().last_code;
}

void slot_ClearLastCode() {
    state().last_code = 0;
}

const char* slot_MailslotPath(const char* name) {
    thread_local std::string path;
    static const int created = platform::ensure_runtime_dir();
    (void)created;
    path = platform::mailslot_file(name != nullptr ? name : "");
    return path.c_str();
}

int slot_OpenMailslot(const char* name) {
    if (name == nullptr) return platform::fail(EINVAL);
    auto sender = platform::MailslotSender::open(name);
    if (!sender) return -1;
    return sender->release();
}

int slot_CloseMailslot(int handle) {
    if (close(handle) != 0) return platform::fail_from_errno();
    return 0;
}

int os_WriteExact(int handle, const void* bytes, size_t length) {
    if (platform::mailslot_send_on(handle, std::span(static_cast<const std::byte*>(bytes), length)) != 0)
        return -1;
    return static_cast<int>(length);
}
