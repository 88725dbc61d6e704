#include "display.h"

#include <cstdio>
#include <utility>

namespace sim_demo {
namespace {

constexpr size_t kRecentLines = 10;
constexpr auto kTerminalPeriod = std::chrono::milliseconds(200);
constexpr auto kPlainPeriod = std::chrono::seconds(1);

constexpr const char* kHome = "\x1b[H";
constexpr const char* kClearScreen = "\x1b[2J";
constexpr const char* kClearLineEnd = "\x1b[K";
constexpr const char* kClearBelow = "\x1b[J";
constexpr const char* kHideCursor = "\x1b[?25l";
constexpr const char* kShowCursor = "\x1b[?25h";

}  // namespace

Display::Display(bool terminal, std::vector<std::string> legend)
    : terminal_(terminal), live_(terminal), legend_(std::move(legend)) {
    if (live_) {
        std::fputs(kClearScreen, stdout);
        std::fputs(kHideCursor, stdout);
        return;
    }
    for (const auto& line : legend_) std::printf("legend: %s\n", line.c_str());
    std::fflush(stdout);
}

bool Display::closed() const {
    return std::ferror(stdout) != 0;
}

Display::~Display() {
    finish();
}

void Display::note(const std::string& line) {
    if (!live_) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        return;
    }
    recent_.push_back(line);
    while (recent_.size() > kRecentLines) recent_.pop_front();
}

void Display::show(const std::string& heading, const std::vector<std::string>& table) {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_shown_ < (live_ ? kTerminalPeriod : kPlainPeriod)) return;
    last_shown_ = now;
    heading_ = heading;
    table_ = table;
    if (live_) {
        draw();
        return;
    }
    std::printf("--- %s\n", heading.c_str());
    for (const auto& line : table) std::printf("    %s\n", line.c_str());
    std::fflush(stdout);
}

void Display::draw() {
    std::string screen = kHome;
    const auto add = [&](const std::string& line) { screen += line + kClearLineEnd + "\n"; };
    add(heading_);
    add("");
    for (const auto& line : table_) add(line);
    add("");
    for (const auto& line : legend_) add(line);
    add("");
    add("What happened (newest last):");
    for (const auto& line : recent_) add("  " + line);
    screen += kClearBelow;
    std::fputs(screen.c_str(), stdout);
    std::fflush(stdout);
}

void Display::finish() {
    if (!live_) return;
    draw();
    std::fputs(kShowCursor, stdout);
    std::fflush(stdout);
    live_ = false;
}

}  // namespace sim_demo
