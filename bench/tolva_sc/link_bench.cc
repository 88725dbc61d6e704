// Prints the link's figures over a real pseudo-terminal to the interface-module stand-in:
// the software cost of a transaction on an unpaced line (wall time, the link's own CPU time
// and its port calls, each call being one poll and one read or write), and on a line paced
// at 19200 baud the transaction time against the wire time of its bytes.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "controller/interface_module.h"
#include "controller/pseudo_terminal.h"
#include "platform/monotonic_clock.h"
#include "platform/serial_port.h"
#include "tolva_sc/df1_link.h"

namespace {

using Bytes = std::vector<uint8_t>;

class CountingPort final : public tolva::LinkPort {
  public:
    explicit CountingPort(platform::SerialPort port) : inner_(std::move(port)) {}
    ssize_t read_some(std::span<uint8_t> buffer) override {
        ++reads;
        return inner_.read_some(buffer);
    }
    ssize_t write_some(std::span<const uint8_t> bytes) override {
        ++writes;
        return inner_.write_some(bytes);
    }
    uint64_t reads = 0;
    uint64_t writes = 0;

  private:
    tolva::SerialLinkPort inner_;
};

int64_t thread_cpu_ns() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// A typed read of 82 bytes of N7:0 from station 1, and its reply.
Bytes request(uint16_t tns) {
    return {0x01, 0x00, 0x0F, 0x00, static_cast<uint8_t>(tns), static_cast<uint8_t>(tns >> 8), 0xA2, 0x52,
            0x07, 0x89, 0x00, 0x00};
}

Bytes reply_to(std::span<const uint8_t> req) {
    Bytes body{req[1], req[0], static_cast<uint8_t>(req[2] | 0x40), 0x00, req[4], req[5]};
    for (int i = 0; i < 82; ++i) body.push_back(static_cast<uint8_t>(0x20 + i));
    return body;
}

struct Line {
    sim_controller::PseudoTerminal pty;
    std::unique_ptr<sim_controller::InterfaceModule> module;
    tolva::Df1Link link;
    CountingPort* port = nullptr;
};

bool open_line(Line& line, bool paced, uint32_t baud) {
    if (line.pty.open() != 0) return false;
    sim_controller::ModuleOptions options;
    options.paced = paced;
    options.baud = baud;
    options.log_limit = 1000;
    line.module = std::make_unique<sim_controller::InterfaceModule>(options);
    line.module->add_station(
        1, [](std::span<const uint8_t> req) -> std::optional<Bytes> { return reply_to(req); });
    if (line.module->start(line.pty.take_module_side()) != 0) return false;
    platform::SerialPort serial;
    if (serial.open_device(line.pty.device_path(), baud) != 0) return false;
    auto port = std::make_unique<CountingPort>(std::move(serial));
    line.port = port.get();
    line.link.attach(std::move(port));
    tolva::CommSettings comm{};
    comm.BaudRate = baud;
    tolva::apply_link_defaults(comm);
    line.link.set_timings(tolva::link_timings(comm));
    return true;
}

bool transact(tolva::Df1Link& link, uint16_t tns, Bytes& buffer) {
    size_t length = 0;
    return link.send_message(request(tns)) == 1 && link.receive_message(buffer, length) == 1 && length == 88;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

int unpaced() {
    constexpr int kWarmUp = 500;
    constexpr int kTransactions = 20000;
    Line line;
    if (!open_line(line, false, 38400)) {
        std::perror("unpaced line");
        return 1;
    }
    Bytes buffer(256);
    for (int i = 0; i < kWarmUp; ++i) {
        if (!transact(line.link, static_cast<uint16_t>(i), buffer)) return 1;
    }
    const uint64_t reads = line.port->reads;
    const uint64_t writes = line.port->writes;
    std::vector<double> us;
    us.reserve(kTransactions);
    const int64_t cpu_start = thread_cpu_ns();
    const int64_t wall_start = platform::monotonic_ns();
    for (int i = 0; i < kTransactions; ++i) {
        const int64_t t0 = platform::monotonic_ns();
        if (!transact(line.link, static_cast<uint16_t>(kWarmUp + i), buffer)) {
            std::fprintf(stderr, "transaction %d failed: %#x\n", i, errno);
            return 1;
        }
        us.push_back(static_cast<double>(platform::monotonic_ns() - t0) / 1000.0);
    }
    const double wall_us =
        static_cast<double>(platform::monotonic_ns() - wall_start) / 1000.0 / kTransactions;
    const double cpu_us = static_cast<double>(thread_cpu_ns() - cpu_start) / 1000.0 / kTransactions;
    const double calls =
        static_cast<double>(line.port->reads - reads + line.port->writes - writes) / kTransactions;
    const double char_us = 10.0 / 38400 * 1e6;
    std::printf("unpaced pseudo-terminal, %d transactions (request 12 bytes, reply 88 bytes):\n",
                kTransactions);
    std::printf("  round trip: mean %.1f us, p50 %.1f us, p99 %.1f us (module thread and line included)\n",
                wall_us, percentile(us, 0.5), percentile(us, 0.99));
    std::printf(
        "  link CPU time: %.1f us per transaction (%.2f of a character time at 38400 baud, %.0f us)\n",
        cpu_us, cpu_us / char_us, char_us);
    std::printf("  port calls: %.2f per transaction (%.2f system calls: a poll and a read or write each)\n",
                calls, calls * 2);
    return 0;
}

int paced() {
    constexpr uint32_t kBaud = 19200;
    constexpr int kTransactions = 40;
    Line line;
    if (!open_line(line, true, kBaud)) {
        std::perror("paced line");
        return 1;
    }
    Bytes buffer(256);
    if (!transact(line.link, 1, buffer)) return 1;
    const tolva::LinkCounters before = line.link.counters();
    const int64_t start = platform::monotonic_ns();
    for (int i = 0; i < kTransactions; ++i) {
        if (!transact(line.link, static_cast<uint16_t>(2 + i), buffer)) {
            std::fprintf(stderr, "paced transaction %d failed: %#x\n", i, errno);
            return 1;
        }
    }
    const double measured_ms = static_cast<double>(platform::monotonic_ns() - start) / 1e6 / kTransactions;
    const tolva::LinkCounters d = line.link.counters() - before;
    const double bytes = static_cast<double>(d.sent_bytes + d.received_bytes) / kTransactions;
    const double wire_ms = bytes * 10.0 / kBaud * 1000.0;
    std::printf("paced at %u baud, %d transactions:\n", kBaud, kTransactions);
    std::printf("  %.0f bytes on the wire per transaction: %.2f ms wire time, %.2f ms measured, ratio %.3f\n",
                bytes, wire_ms, measured_ms, measured_ms / wire_ms);
    return 0;
}

}  // namespace

int main() {
    // The stand-in maps nothing here: the link opens the device path directly.
    if (unpaced() != 0) return 1;
    return paced();
}
