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
    // Sends to the own process under way: close waits for them before it releases what they
    // use (the event, the queue, the callback).
    std::mutex sends_mutex;
    std::condition_variable sends_cv;
    int sends_under_way = 0;
    std::optional<platform::MailslotReceiver> receiver;
    std::optional<platform::Event> code_handled;
    std::optional<platform::Event> stop_event;
    std::thread reader;
    std::thread dispatcher;

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
    s.code_handled->set();
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

// Admits one send to the own process while the slot is open and not closing.
class OwnSend {
  public:
    OwnSend() {
        SlotState& s = state();
        std::lock_guard lock(s.sends_mutex);
        admitted_ = s.open && !s.stopping;
        if (admitted_) ++s.sends_under_way;
    }
    ~OwnSend() {
        if (!admitted_) return;
        SlotState& s = state();
        {
            std::lock_guard lock(s.sends_mutex);
            --s.sends_under_way;
        }
        s.sends_cv.notify_all();
    }
    OwnSend(const OwnSend&) = delete;
    OwnSend& operator=(const OwnSend&) = delete;
    bool admitted() const { return admitted_; }

  private:
    bool admitted_ = false;
};

// Once stopping is set no new send is admitted; the ones admitted before finish.
void wait_for_own_sends(SlotState& s) {
    std::unique_lock lock(s.sends_mutex);
    s.sends_cv.wait(lock, [&] { return s.sends_under_way == 0; });
}

void stop_threads(SlotState& s) {
    s.stopping = true;
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
    if (s.code_handled) {
        std::lock_guard lock(s.handles_mutex);
        std::erase(s.handles, s.code_handled->fd());
    }
    {
        std::lock_guard lock(s.queue_mutex);
        s.queue.clear();
        s.undelivered = 0;
    }
    s.receiver.reset();
    s.code_handled.reset();
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

bool can_wake_caller() {
    SlotState& s = state();
    return s.open && !in_callback();
}

void arm_wait() {
    SlotState& s = state();
    if (s.open) s.code_handled->reset();
}

void release_commands() {
    if (state().open) set_allowed(true);
}

void prepare_wait() {
    arm_wait();
    release_commands();
}

int wait_prepared(uint32_t milliseconds) {
    SlotState& s = state();
    std::vector<int> fds;
    {
        std::lock_guard lock(s.handles_mutex);
        fds = s.handles;
    }
    int rc = 0;
    if (fds.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    } else if (platform::wait_any_readable(fds, milliseconds == 0 ? -1 : static_cast<int>(milliseconds)) <
                   0 &&
               errno != ETIMEDOUT) {
        rc = -1;
    }
    const int error = errno;
    if (s.open) s.code_handled->reset();
    if (rc != 0) platform::fail(error);
    return rc;
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

    auto receiver = platform::MailslotReceiver::create(qvr::slot_internal::process_slot_name(own_pid()));
    if (!receiver) return nullptr;
    auto code_handled = platform::Event::create(false);
    auto stop_event = platform::Event::create(false);
    if (!code_handled || !stop_event) return nullptr;
    {
        std::lock_guard lock(s.handles_mutex);
        if (s.handles.size() >= kMaxWaitHandles) {
            platform::fail(ENOSPC);
            return nullptr;
        }
        s.handles.insert(s.handles.begin(), code_handled->fd());
    }
    s.receiver = std::move(receiver);
    s.code_handled = std::move(code_handled);
    s.stop_event = std::move(stop_event);
    s.callback = callback;
    s.commands_allowed = true;
    s.stopping = false;
    s.dropped_messages = 0;
    s.open = true;
    try {
        s.reader = std::thread(reader_loop);
        s.dispatcher = std::thread(dispatcher_loop);
    } catch (const std::system_error& e) {
        const int error = e.code().value();
        stop_threads(s);
        wait_for_own_sends(s);
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
    wait_for_own_sends(s);
    release_resources();
}

int slot_SendCode(uint32_t pid, uint32_t code) {
    SlotState& s = state();
    if (pid == own_pid()) {
        const OwnSend send;
        if (!send.admitted()) return platform::fail(ENOENT);
        if (!in_callback()) {
            // A callback running elsewhere may be waiting for a section lock the sender holds;
            // then the code is queued rather than waiting for the critical section.
            std::unique_lock lock(s.cs, std::try_to_lock);
            if (lock.owns_lock() && s.commands_allowed && s.undelivered == 0) {
                run_callback(code);
                lock.unlock();
                if (auto hook = s.own_delivery_hook.load()) hook();
                s.code_handled->set();
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
    bool has_handles;
    {
        std::lock_guard lock(s.handles_mutex);
        has_handles = !s.handles.empty();
    }
    if (milliseconds == 0) {
        // Without a slot or a handle, or from the callback's own thread with nothing else
        // to wait on, nothing could ever end the wait.
        bool only_own_event = false;
        if (s.open && in_callback()) {
            std::lock_guard lock(s.handles_mutex);
            only_own_event = s.handles.size() == 1;
        }
        if (!has_handles || only_own_event) return platform::fail(EDEADLK);
    }
    qvr::slot_internal::prepare_wait();
    return qvr::slot_internal::wait_prepared(milliseconds);
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
    if (s.handles.size() >= kMaxWaitHandles) return platform::fail(ENOSPC);
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
