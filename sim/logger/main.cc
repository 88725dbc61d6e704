// qvr_logger: the stand-in logger as a program, for tests that need a logger in a process of
// its own and for trying the system by hand.
//
//   qvr_logger --folder F [--logger L1] [--prefix L1_] [--runs 3] [--records 100]
//              [--period-ms 1000] [--paced] [--batch 1] [--channels 8] [--digital 4]
//              [--start SECONDS] [--events N] [--purge-before SECONDS] [--status N]
//
// Prints "run <location> <records>" for every finished run and "done" at the end; a
// location's password is masked.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "logger/stand_in_logger.h"
#include "platform/last_error.h"
#include "platform/secret_mask.h"
#include "qvr/records/channel_record.h"
#include "host/runtime_host.h"

namespace {

struct Arguments {
    sim_logger::LoggerOptions options;
    long runs = 3;
    long records = 100;
    long batch = 1;
    long channels = 8;
    long digital = 0;
    long start = 1'700'000'000;
    long events = 0;
    long purge_before = 0;
};

bool number(const char* text, long& out) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0') return false;
    out = value;
    return true;
}

int usage() {
    std::fprintf(stderr,
                 "usage: qvr_logger --folder F [--logger L] [--prefix P] [--runs N] [--records N]\n"
                 "                  [--period-ms N] [--paced] [--batch N] [--channels N] [--digital N]\n"
                 "                  [--start S] [--events N] [--purge-before S] [--status N]\n");
    return 2;
}

bool parse(int argc, char** argv, Arguments& a) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view flag = argv[i];
        if (flag == "--paced") {
            a.options.paced = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        long n = 0;
        if (flag == "--folder") a.options.location = value;
        else if (flag == "--logger") a.options.logger = value;
        else if (flag == "--prefix") a.options.prefix = value;
        else if (flag == "--period-ms" && number(value, n) && n >= 0) a.options.period_ms = static_cast<std::uint32_t>(n);
        else if (flag == "--status" && number(value, n) && n >= 0) a.options.status_logger = static_cast<int>(n);
        else if (flag == "--runs" && number(value, a.runs) && a.runs >= 0) continue;
        else if (flag == "--records" && number(value, a.records) && a.records >= 0) continue;
        else if (flag == "--batch" && number(value, a.batch) && a.batch > 0) continue;
        else if (flag == "--channels" && number(value, a.channels) && a.channels > 0 && a.channels <= 1000) continue;
        else if (flag == "--digital" && number(value, a.digital) && a.digital >= 0 && a.digital <= 1000) continue;
        else if (flag == "--start" && number(value, a.start) && a.start > 0) continue;
        else if (flag == "--events" && number(value, a.events) && a.events >= 0) continue;
        else if (flag == "--purge-before" && number(value, a.purge_before) && a.purge_before >= 0) continue;
        else return false;
    }
    return true;
}

// Channel configurations made here: no device modules are needed.
std::vector<qvr::ChannelRecord> channel_records(const std::string& stem, long count, bool digital) {
    std::vector<qvr::ChannelRecord> records;
    for (long i = 1; i <= count; ++i) {
        const std::string tag = stem + std::to_string(i);
        records.push_back(digital ? sim_host::digital_input(tag) : sim_host::analog_input(tag, "Stand-in " + tag));
    }
    return records;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments a;
    if (!parse(argc, argv, a)) return usage();
    a.options.blocks.clear();
    a.options.blocks.push_back({"AA", 1, static_cast<std::uint16_t>(a.channels), false, channel_records("AI", a.channels, false)});
    if (a.digital > 0)
        a.options.blocks.push_back(
            {"DD", 1, static_cast<std::uint16_t>(a.digital), true, channel_records("DI", a.digital, true)});

    sim_logger::StandInLogger logger;
    if (logger.open(a.options) != 0) {
        std::fprintf(stderr, "qvr_logger: cannot open %s (error %d)\n", platform::mask_secrets(a.options.location).c_str(),
                     platform::last_error());
        return 1;
    }
    const long length = (a.records * static_cast<long>(a.options.period_ms)) / 1000 + 1;
    for (long r = 0; r < a.runs; ++r) {
        const auto start = static_cast<std::int32_t>(a.start + r * (length + 60));
        if (logger.start_run(start) != 0) {
            std::fprintf(stderr, "qvr_logger: no new run (error %d)\n", platform::last_error());
            return 1;
        }
        for (long e = 0; e < a.events; ++e) {
            const long at = a.events > 0 ? (a.records * e) / a.events : 0;
            const TimeStamp time = sim_logger::record_time(start, at, a.options.period_ms);
            if (logger.add_event(time, "Event " + std::to_string(e) + " of run " + std::to_string(r)) != 0 ||
                logger.add_position(time.seconds, static_cast<float>(e) * 1.5f) != 0) {
                std::fprintf(stderr, "qvr_logger: event not added (error %d)\n", platform::last_error());
                return 1;
            }
        }
        if (logger.append(a.records, a.batch) != 0) {
            std::fprintf(stderr, "qvr_logger: records not written (error %d)\n", platform::last_error());
            return 1;
        }
        if (logger.finish_run(static_cast<std::int32_t>(start + length)) != 0) {
            std::fprintf(stderr, "qvr_logger: run not finished (error %d)\n", platform::last_error());
            return 1;
        }
        std::printf("run %s %lld\n", platform::mask_secrets(logger.run_location()).c_str(),
                    static_cast<long long>(logger.records_written()));
        std::fflush(stdout);
    }
    if (a.purge_before > 0) logger.purge(static_cast<std::int32_t>(a.purge_before));
    logger.stop();
    std::printf("done\n");
    return 0;
}
