#pragma once
// Stop requests by signal: SIGTERM and SIGINT are taken off the process's normal delivery
// and handed to a callback on a thread of their own, where ordinary code may run (a signal
// handler could not wake a waiting main thread safely).
#include <functional>
#include <thread>

namespace platform {

class StopSignals {
  public:
    StopSignals() = default;
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Blocks SIGTERM and SIGINT in the calling thread, which every thread it creates later
    // inherits; call it before other threads exist. 0, or -1 with errno.
    static int block();
    // Starts the thread that calls `on_stop` with the signal number for each signal that
    // arrives. 0, or -1 with errno.
    int start(std::function<void(int signal)> on_stop);
    // Ends and joins the thread; the signals stay blocked.
    void stop();

  private:
    void run();

    std::function<void(int)> on_stop_;
    int signal_fd_ = -1;
    int wake_fd_ = -1;
    std::thread thread_;
};

}  // namespace platform
