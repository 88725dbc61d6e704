#pragma once
// Stand-in for the DH-485 interface module and the controllers behind it: the slave end of
// a DF1 full-duplex line over a file descriptor (the master side of a pseudo-terminal). It
// acknowledges good frames, refuses bad ones, answers enquiries with its last response,
// drops repeated requests, hands each new request to the station it names and sends the
// reply with its own retransmissions and enquiries. Faults and pacing at the line's baud
// rate are optional; every frame and link event goes into a decoded log.
//
// The run loop has a thread of its own; every public function may be called from any
// thread while it runs.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "controller/faults.h"
#include "controller/link_log.h"

namespace sim_controller {

// A station's answer to a request body (DST at position 0): the reply body, or none when the
// station stays silent. Called on the module's thread, without any of its locks held.
using StationHandler = std::function<std::optional<std::vector<uint8_t>>(std::span<const uint8_t> request)>;

struct ModuleOptions {
    uint32_t baud = 19200;
    // Each byte takes 10 bits of line time in each direction, as on a real line.
    bool paced = false;
    // Wait for the master's ACK or NAK of a reply before an enquiry.
    std::chrono::milliseconds answer_timeout{50};
    unsigned max_transmissions = 3;  // of one reply
    unsigned max_enquiries = 3;      // per reply
    size_t log_limit = 200000;       // newest entries kept
};

struct LinkStats {
    uint64_t bytes_in = 0;
    uint64_t bytes_out = 0;
    uint64_t frames_in = 0;  // incoming message frames, good or bad
    uint64_t requests = 0;   // new requests handed to stations
    uint64_t replies = 0;    // replies the master acknowledged
};

class InterfaceModule {
  public:
    explicit InterfaceModule(ModuleOptions options = {});
    ~InterfaceModule();
    InterfaceModule(const InterfaceModule&) = delete;
    InterfaceModule& operator=(const InterfaceModule&) = delete;

    void add_station(uint8_t station, StationHandler handler);
    void remove_station(uint8_t station);

    // Applies `action` when incoming message frame number `frame` (from 1, good or bad,
    // counted since start) has been read.
    void add_fault(uint64_t frame, FaultAction action);
    void set_random_faults(const RandomFaults& faults);

    // Runs the line over `fd`, which the module owns from now on. 0, or -1 with errno.
    int start(int fd);
    // Ends the run loop and closes the descriptor.
    void stop();
    // False once stopped, or when the line was closed or failed.
    bool running() const;

    std::vector<LogEntry> log() const;
    void clear_log();
    // Waits until `done` holds for the log, or `timeout` passes; the result of `done`. It is
    // called under the module's lock: it must not call the module.
    bool wait_for_log(const std::function<bool(const std::vector<LogEntry>&)>& done,
                      std::chrono::milliseconds timeout) const;
    // Sees every entry as it is made, on the module's thread.
    void set_log_observer(std::function<void(const LogEntry&)> observer);
    LinkStats stats() const;

    // Shared with the run loop (the loop's own state is not).
    struct Shared {
        mutable std::mutex mutex;
        mutable std::condition_variable changed;
        std::map<uint8_t, std::shared_ptr<const StationHandler>> stations;
        std::multimap<uint64_t, FaultAction> faults;
        std::optional<RandomFaults> random;
        uint64_t random_version = 0;
        std::vector<LogEntry> log;
        size_t log_limit = 0;
        std::function<void(const LogEntry&)> observer;
        LinkStats stats;
        bool running = false;
    };

  private:
    void run(int fd);

    ModuleOptions options_;
    std::shared_ptr<Shared> shared_;
    int wake_fd_ = -1;
    std::thread thread_;
};

}  // namespace sim_controller
