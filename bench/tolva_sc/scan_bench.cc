// Prints the scanner's figures, measured with its own device frame (scan engine, kind
// handlers, blocks, stations and link) against the controller stand-in on a pseudo-terminal:
//   1. scan time against the wire time of the bytes the link sent and received (target at
//      most 1.05), and that wire time against an ideal packing of the channels, on a line
//      paced at 9600, 19200 and 38400 baud;
//   2. the scanning thread's CPU time per scan with 4 x 10,000 channels, steady and all
//      changing, on an unpaced line, against the wire time of the same bytes (target under
//      1%);
//   3. the time to build the block list of 10,000 channels.
// --quick runs 19200 baud only and at most 1,000 channels on the paced line.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/monotonic_clock.h"
#include "scan_layouts.h"
#include "scan_rig.h"
#include "support/test_env.h"
#include "tolva_sc/io_block.h"

namespace {

using scan_bench::Layout;
using scan_bench::RigOptions;
using scan_bench::ScanFigures;
using scan_bench::ScanRig;

constexpr double kRatioTarget = 1.05;
constexpr double kCpuTargetPercent = 1.0;
constexpr double kBitsPerCharacter = 10.0;

double wire_ms(double characters, uint32_t baud) {
    return characters * kBitsPerCharacter / baud * 1000.0;
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

struct PacedCase {
    std::string name;
    std::function<std::array<Layout, 4>()> layouts;
    bool read_back = false;
    bool outputs_change = false;
    int channels = 0;
    bool quick = true;
};

// A device with `layout` as its only kind.
std::array<Layout, 4> only(int kind, Layout layout) {
    std::array<Layout, 4> kinds;
    kinds[static_cast<size_t>(kind)] = std::move(layout);
    return kinds;
}

std::vector<PacedCase> paced_cases() {
    using qvr::ChannelKind;
    auto ai = [](int n) { return [n] { return only(0, scan_bench::contiguous_words(ChannelKind::AI, n, 10)); }; };
    auto ao = [] { return only(2, scan_bench::contiguous_words(ChannelKind::AO, 1000, 100)); };
    auto partly = [] { return only(3, scan_bench::partly_owned_bits(ChannelKind::DO, 1000, 70)); };
    return {
        {"100 contiguous AI", ai(100), false, false, 100, true},
        {"1,000 contiguous AI", ai(1000), false, false, 1000, true},
        {"10,000 contiguous AI", ai(10000), false, false, 10000, false},
        {"1,000 scattered AI", [] { return only(0, scan_bench::scattered_inputs(1000)); },
         false, false, 1000, true},
        {"2,000 mixed DI", [] { return only(1, scan_bench::mixed_digital_inputs(2000)); },
         false, false, 2000, true},
        {"1,000 AO all changing", ao, false, true, 1000, true},
        {"1,000 AO unchanged, ReadBack", ao, true, false, 1000, true},
        {"1,000 DO partly owned, changing", partly, false, true, 1000, true},
    };
}

struct Tally {
    int met = 0;
    int missed = 0;
    void add(bool ok) { ok ? ++met : ++missed; }
};

constexpr int kChildFailed = 255;

// Runs `body` in a child process under a shared-object prefix of its own: the host
// stand-in keeps its tables and modules for the prefix, and every device here needs fresh
// ones. The child's tally comes back as its exit status (targets missed), counted against
// `targets`.
void in_child(int targets, Tally& tally, const std::function<bool(Tally&)>& body) {
    static int children = 0;
    const std::string prefix = qvr_test::ipc_prefix() + "c" + std::to_string(++children) + "_";
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QUORVANE_IPC_PREFIX", prefix.c_str(), 1);
        Tally own;
        const bool ran = body(own);
        std::fflush(stdout);
        qvr_test::remove_shared_objects();  // the parent's prefix starts the child's
        ::_exit(ran ? own.missed : kChildFailed);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) == kChildFailed) {
        std::printf("  (a run failed)\n");
        tally.missed += targets;
        return;
    }
    tally.missed += WEXITSTATUS(status);
    tally.met += targets - WEXITSTATUS(status);
}

bool run_paced(const PacedCase& c, uint32_t baud, bool quick, Tally& tally) {
    std::array<Layout, 4> layouts = c.layouts();
    int64_t ideal = 0;
    for (const auto& l : layouts) ideal += scan_bench::ideal_characters(l);
    const double ideal_ms = wire_ms(static_cast<double>(ideal), baud);
    // About six seconds of line per case and baud; big cases scan once.
    const int repetitions = quick ? 2 : std::clamp(static_cast<int>(6000.0 / ideal_ms), 1, 5);

    ScanRig rig(std::move(layouts), RigOptions{baud, true, c.read_back});
    if (!rig.open()) {
        std::printf("  %-30s %6u  could not open the device\n", c.name.c_str(), baud);
        return false;
    }
    if (c.outputs_change) rig.change_outputs(1);
    // The opening scan read the inputs; the outputs' first reads and writes need one more.
    if (!rig.layout(2).channels.empty() || !rig.layout(3).channels.empty()) rig.scan();
    ScanFigures sum;
    for (int r = 0; r < repetitions; ++r) {
        if (c.outputs_change) rig.change_outputs(2 + r);
        const ScanFigures f = rig.scan();
        sum.wall_ns += f.wall_ns;
        sum.cpu_ns += f.cpu_ns;
        sum.wire_bytes += f.wire_bytes;
        sum.frames += f.frames;
        sum.recoveries += f.recoveries;
    }
    const double scan_ms = static_cast<double>(sum.wall_ns) / 1e6 / repetitions;
    const double bytes = static_cast<double>(sum.wire_bytes) / repetitions;
    const double line_ms = wire_ms(bytes, baud);
    const double cpu_ms = static_cast<double>(sum.cpu_ns) / 1e6 / repetitions;
    const double ratio = scan_ms / line_ms;
    tally.add(ratio <= kRatioTarget);
    std::printf("  %-30s %6u %3d %9.1f %9.0f %9.1f %6.3f %-6s %9.1f %7.3f %8.2f %6.2f%%\n", c.name.c_str(), baud,
                repetitions, scan_ms, bytes, line_ms, ratio, verdict(ratio <= kRatioTarget), ideal_ms,
                line_ms / ideal_ms, cpu_ms, cpu_ms / line_ms * 100.0);
    if (sum.recoveries != 0)
        std::printf("  %-30s %6s     %llu time-outs, enquiries, NAKs or repeats in %d scans\n", "", "",
                    static_cast<unsigned long long>(sum.recoveries), repetitions);
    std::fflush(stdout);
    return true;
}

void print_paced(bool quick, Tally& tally) {
    std::printf("1. Scan time against wire time on a paced line (target: ratio <= %.2f)\n", kRatioTarget);
    std::printf("   wire = bytes the link sent and received x 10 bits / baud; ideal = n + 32 characters\n");
    std::printf("   per command of n data bytes, at most 82 bytes of one file each (best cover)\n");
    std::printf("  %-30s %6s %3s %9s %9s %9s %6s %-6s %9s %7s %8s %7s\n", "case", "baud", "n", "scan ms",
                "bytes", "wire ms", "ratio", "target", "ideal ms", "w/ideal", "cpu ms", "cpu/w");
    const std::vector<uint32_t> bauds = quick ? std::vector<uint32_t>{19200} : std::vector<uint32_t>{9600, 19200, 38400};
    for (const auto& c : paced_cases()) {
        if (quick && !c.quick) continue;
        for (const uint32_t baud : bauds)
            in_child(1, tally, [&](Tally& own) { return run_paced(c, baud, quick, own); });
    }
    std::printf("   cpu: the scanning thread's; the stand-in paces by writing one byte at a time, so each\n");
    std::printf("   byte wakes the link once (a poll and a read); the CPU target is judged in 2.\n");
}

std::array<Layout, 4> four_by_ten_thousand() {
    using qvr::ChannelKind;
    return {scan_bench::contiguous_words(ChannelKind::AI, 10000, 10),
            scan_bench::packed_bits(ChannelKind::DI, 10000, 60),
            scan_bench::contiguous_words(ChannelKind::AO, 10000, 100),
            scan_bench::packed_bits(ChannelKind::DO, 10000, 70)};
}

void print_cpu(ScanRig& rig, const char* name, bool changing, Tally& tally) {
    constexpr int kScans = 10;
    constexpr uint32_t kNominalBaud = 38400;
    if (changing) {
        rig.change_inputs(1);
        rig.change_outputs(1);
    }
    rig.scan();
    ScanFigures sum;
    for (int r = 0; r < kScans; ++r) {
        if (changing) {
            rig.change_inputs(2 + r);
            rig.change_outputs(2 + r);
        }
        const ScanFigures f = rig.scan();
        sum.wall_ns += f.wall_ns;
        sum.cpu_ns += f.cpu_ns;
        sum.wire_bytes += f.wire_bytes;
        sum.frames += f.frames;
    }
    const double cpu_ms = static_cast<double>(sum.cpu_ns) / 1e6 / kScans;
    const double bytes = static_cast<double>(sum.wire_bytes) / kScans;
    const double frames = static_cast<double>(sum.frames) / kScans;
    const double wall_ms = static_cast<double>(sum.wall_ns) / 1e6 / kScans;
    const double at_38400 = wire_ms(bytes, kNominalBaud);
    const double at_19200 = wire_ms(bytes, 19200);
    const double percent = cpu_ms / at_38400 * 100.0;
    tally.add(percent < kCpuTargetPercent);
    std::printf("  %-22s cpu %7.2f ms/scan  (%5.0f frames, %7.0f bytes; wire %7.1f ms at 38400, %7.1f ms at 19200;"
                " unpaced scan %6.1f ms)\n",
                name, cpu_ms, frames, bytes, at_38400, at_19200, wall_ms);
    std::printf("  %-22s cpu / wire at 38400 = %.3f%%, at 19200 = %.3f%%  target < %.0f%%: %s\n", "", percent,
                cpu_ms / at_19200 * 100.0, kCpuTargetPercent, verdict(percent < kCpuTargetPercent));
}

void print_build(ScanRig& rig) {
    constexpr int kBuilds = 20;
    std::printf("3. Block-list build for 10,000 channels (no target set; built at open and reconfiguration)\n");
    struct Item {
        const char* name;
        int kind;
        bool digital;
    };
    for (const Item& item : {Item{"10,000 contiguous AI", 0, false}, Item{"10,000 packed DI bits", 1, true}}) {
        const auto& records = rig.layout(item.kind).channels;
        std::vector<double> ms;
        size_t blocks = 0;
        for (int i = 0; i < kBuilds; ++i) {
            const int64_t t0 = platform::monotonic_ns();
            const tolva::BlockList list = tolva::build_block_list(records, item.digital, rig.device().stations());
            ms.push_back(static_cast<double>(platform::monotonic_ns() - t0) / 1e6);
            blocks = list.blocks.size();
        }
        std::sort(ms.begin(), ms.end());
        std::printf("  %-22s %4zu blocks: min %.2f ms, median %.2f ms over %d builds\n", item.name, blocks, ms[0],
                    ms[ms.size() / 2], kBuilds);
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else {
            std::fprintf(stderr, "usage: %s [--quick]\n", argv[0]);
            return 2;
        }
    }
    // Its own shared-object prefix, runtime and registry folders, removed at exit.
    qvr_test::install_test_environment();
    ::setenv("TOLVA_NO_REALTIME", "1", 1);

    Tally tally;
    print_paced(quick, tally);

    std::printf("2. Scanner CPU time per scan, 4 x 10,000 channels (AI, DI, AO, DO), unpaced line,\n");
    std::printf("   scanning thread only (target: under %.0f%% of the wire time of the same bytes)\n",
                kCpuTargetPercent);
    in_child(2, tally, [](Tally& own) {
        ScanRig rig(four_by_ten_thousand(), RigOptions{38400, false, false});
        if (!rig.open()) {
            std::printf("  could not open the 4 x 10,000 device\n");
            return false;
        }
        print_cpu(rig, "steady", false, own);
        print_cpu(rig, "all changing", true, own);
        print_build(rig);
        return true;
    });
    std::printf("targets met: %d, missed: %d\n", tally.met, tally.missed);
    return 0;
}
