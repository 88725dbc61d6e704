// The writer thread: queued blocks are gathered once per period (or at the stop) and each
// run of memory-adjacent blocks goes to the file with one write. The ring, the pending map
// and the first failure pass between the caller and the thread under one mutex.
#include "qvr/rolling/rolling_writer.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "qvr/rolling/rolling_file.h"
#include "qvr/rolling/rolling_file_ops.h"
#include "qvr/rolling/rolling_state.h"

namespace {

using namespace std::chrono_literals;

// How long a flush waits for a further block before it writes what it has gathered.
constexpr auto kGatherWait = 10ms;

struct RingEntry {
    uint32_t count = 0;  // 0: free
    uint32_t element_size = 0;
    uint32_t position = 0;
    const std::uint8_t* data = nullptr;

    uint64_t bytes() const { return static_cast<uint64_t>(count) * element_size; }
};

struct Writer {
    std::mutex mutex;
    std::condition_variable entry_freed;
    std::condition_variable entry_queued;
    std::condition_variable wake;
    std::vector<RingEntry> ring;
    std::vector<std::uint8_t> pending;
    std::size_t head = 0;    // next entry the caller fills
    std::size_t tail = 0;    // next entry the thread takes
    std::size_t queued = 0;  // entries queued and not yet taken
    bool stop = false;
    bool woken = false;
    int error = 0;  // first failure of the thread, 0 = none
    uint32_t period_seconds = 0;
    std::thread thread;
    bool running = false;
};

Writer& writer() {
    static Writer instance;
    return instance;
}

void record_error(Writer& w, int code) {
    const std::lock_guard lock(w.mutex);
    if (w.error == 0) w.error = code != 0 ? code : EIO;
}

bool has_error(Writer& w) {
    const std::lock_guard lock(w.mutex);
    return w.error != 0;
}

// Takes the entry at the tail; the caller holds the mutex and there is one.
std::size_t take_entry(Writer& w) {
    const std::size_t index = w.tail;
    w.tail = (w.tail + 1) % w.ring.size();
    --w.queued;
    return index;
}

// Writes one run of adjacent entries, then frees them.
void write_run(Writer& w, const std::vector<std::size_t>& run, const std::uint8_t* first, uint64_t bytes) {
    if (!has_error(w)) {
        qvr::rolling::RollingState& rf = qvr::rolling::state();
        const std::span<const std::uint8_t> data(first, static_cast<std::size_t>(bytes));
        if (qvr::rolling::writer_write(rf.write_fd.get(), data) != 0) {
            record_error(w, platform::last_error());
        } else if (rf_LockAt(rf.current_offset + bytes) != 0 || rf_Advance(bytes) != 0) {
            record_error(w, platform::last_error());
        }
    }
    const std::lock_guard lock(w.mutex);
    for (const std::size_t index : run) {
        RingEntry& entry = w.ring[index];
        std::memset(w.pending.data() + entry.position, 0, static_cast<std::size_t>(entry.bytes()));
        entry = RingEntry{};
    }
    w.entry_freed.notify_all();
}

// Everything queued: each pass gathers entries while the next one (waited for up to 10 ms)
// lies right after the bytes gathered so far; a block that does not begins the next pass.
void flush(Writer& w) {
    std::unique_lock lock(w.mutex);
    if (w.queued == 0) return;
    std::size_t next = take_entry(w);
    for (;;) {
        std::vector<std::size_t> run{next};
        const std::uint8_t* first = w.ring[next].data;
        uint64_t bytes = w.ring[next].bytes();
        bool left_over = false;
        while (w.entry_queued.wait_for(lock, kGatherWait, [&] { return w.queued > 0; })) {
            next = take_entry(w);
            if (w.ring[next].data != first + bytes) {
                left_over = true;
                break;
            }
            run.push_back(next);
            bytes += w.ring[next].bytes();
        }
        lock.unlock();
        write_run(w, run, first, bytes);
        if (!left_over) return;
        lock.lock();
    }
}

bool reached(const TimeStamp& now, const TimeStamp& next) { return time_Compare(&now, &next) >= 0; }

void run_writer(Writer& w) {
    qvr::rolling::RollingState& rf = qvr::rolling::state();
    if (rf_LockAt(rf.current_offset) != 0) record_error(w, platform::last_error());
    const uint32_t period_ms = w.period_seconds * 1000;
    TimeStamp now{};
    TimeStamp next = *time_NextPeriodBoundary(rt_GetLocalStamp(&now), period_ms);
    for (;;) {
        bool stopping = false;
        {
            const std::lock_guard lock(w.mutex);
            stopping = w.stop;
        }
        rt_GetLocalStamp(&now);
        if (stopping || reached(now, next)) {
            time_AddMs(&next, static_cast<int32_t>(period_ms));
            // After a jump of the clock the grid starts again from now.
            if (reached(now, next)) next = *time_NextPeriodBoundary(&now, period_ms);
            flush(w);
            if (stopping) return;
            continue;
        }
        const auto wait = std::chrono::milliseconds(time_DiffMs(&next, &now));
        std::unique_lock lock(w.mutex);
        // A timed wait on the monotonic clock: a change of the wall clock neither stretches nor cuts it.
        w.wake.wait_for(lock, wait, [&] { return w.woken; });
        w.woken = false;
    }
}

}  // namespace

namespace qvr::rolling {

bool writer_running() { return writer().running; }

void stop_writer_for_reset() {
    if (writer().running) rf_StopWriter();
}

}  // namespace qvr::rolling

int rf_StartWriter(uint32_t capacity, uint32_t buffer_bytes, uint32_t period_seconds) {
    Writer& w = writer();
    if (w.running || capacity == 0 || period_seconds == 0 || period_seconds > INT32_MAX / 1000) {
        return platform::fail(platform::kErrorInvalidParameter);
    }
    if (!qvr::rolling::state().write_fd) return platform::fail(EBADF);
    w.ring.assign(capacity, RingEntry{});
    w.pending.assign(buffer_bytes, 0);
    w.head = w.tail = w.queued = 0;
    w.stop = w.woken = false;
    w.error = 0;
    w.period_seconds = period_seconds;
    w.running = true;
    w.thread = std::thread(run_writer, std::ref(w));
    return 0;
}

int rf_Queue(const void* data, uint32_t count, uint32_t element_size, uint32_t position) {
    Writer& w = writer();
    if (!w.running) return platform::fail(platform::kErrorInvalidParameter);
    std::unique_lock lock(w.mutex);
    // The failure stays: a block written after a lost one would land shifted in the file.
    if (w.error != 0) return platform::fail(w.error);
    const uint64_t bytes = static_cast<uint64_t>(count) * element_size;
    if (data == nullptr || bytes == 0 || position > w.pending.size() || bytes > w.pending.size() - position) {
        return platform::fail(platform::kErrorInvalidParameter);
    }
    w.entry_freed.wait(lock, [&] { return w.ring[w.head].count == 0; });
    w.ring[w.head] = RingEntry{count, element_size, position, static_cast<const std::uint8_t*>(data)};
    std::memset(w.pending.data() + position, 1, static_cast<std::size_t>(bytes));
    w.head = (w.head + 1) % w.ring.size();
    ++w.queued;
    w.entry_queued.notify_one();
    return 1;
}

int rf_IsPending(uint32_t position, uint32_t length) {
    Writer& w = writer();
    if (!w.running) return platform::fail(platform::kErrorInvalidParameter);
    const std::lock_guard lock(w.mutex);
    if (position > w.pending.size() || length > w.pending.size() - position) {
        return platform::fail(platform::kErrorInvalidParameter);
    }
    for (uint32_t i = 0; i < length; ++i) {
        if (w.pending[position + i] != 0) return 1;
    }
    return 0;
}

int rf_StopWriter() {
    Writer& w = writer();
    if (!w.running) return platform::fail(platform::kErrorInvalidParameter);
    {
        const std::lock_guard lock(w.mutex);
        w.stop = true;
        w.woken = true;
    }
    w.wake.notify_all();
    w.thread.join();
    w.running = false;
    w.ring.clear();
    w.ring.shrink_to_fit();
    w.pending.clear();
    w.pending.shrink_to_fit();
    const int error = std::exchange(w.error, 0);
    if (error != 0) return platform::fail(error);
    qvr::rolling::RollingState& rf = qvr::rolling::state();
    const int released = rf_Advance(0);
    rf.lock_held = false;
    rf.locked_offset = 0;
    return released;
}
