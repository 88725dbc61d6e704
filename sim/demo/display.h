#pragma once
// The demo's output. On a terminal: one screen redrawn in place (heading, channel table,
// legend, the newest notes). Elsewhere (CI, logs): the legend once, then plain lines, each
// note as it comes and a table snapshot about once a second, with no cursor control.
#include <chrono>
#include <deque>
#include <string>
#include <vector>

namespace sim_demo {

class Display {
  public:
    Display(bool terminal, std::vector<std::string> legend);
    ~Display();
    // True once standard output failed: its reader went away (a pipe into head, say).
    bool closed() const;
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    bool terminal() const { return terminal_; }
    // A line of what happened ("alarm message: ...", "controller: ...").
    void note(const std::string& line);
    // The current heading and table; shown when the last showing is old enough.
    void show(const std::string& heading, const std::vector<std::string>& table);
    // Leaves the live screen; later notes are plain lines.
    void finish();

  private:
    void draw();

    bool terminal_;
    bool live_ = false;
    std::string heading_;
    std::vector<std::string> table_;
    std::vector<std::string> legend_;
    std::deque<std::string> recent_;
    std::chrono::steady_clock::time_point last_shown_{};
};

}  // namespace sim_demo
