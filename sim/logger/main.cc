// qvr_logger: the stand-in logger as a program, for tests that need a logger in a process of
// its own and for trying the system by hand. Prints "run <location> <records>" for every
// finished run and "done" at the end; a location's password is masked.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/error_text.h"
#include "platform/file_paths.h"
#include "host/runtime_host.h"
#include "logger/stand_in_logger.h"
#include "platform/last_error.h"
#include "platform/secret_mask.h"
#include "qvr/records/channel_record.h"
#ifdef QVR_LOGGER_WITH_MYSQL
#include "log_stores/mysql/register.h"
#endif

namespace {

constexpr const char* kUsage =
    "usage: qvr_logger --folder LOCATION [--logger L] [--prefix P] [--runs N] [--records N]\n"
    "                  [--period-ms N] [--paced] [--batch N] [--channels N] [--digital N]\n"
    "                  [--start S] [--events N] [--purge-before S] [--status N]\n"
    "  Makes N runs (default 3) of a logger L (default L1, run prefix L1_) in LOCATION: a folder,\n"
    "  or a connection string: \"Provider=SQLite.File;Data Source=<file>\", \"Provider=MSDASQL;...\"\n"
    "  (any ODBC driver), \"PROVIDER=MYSQL;HOST=..;PORT=..;USER=..;DB=..;PASSWORD=<base64>\".\n"
    "  Each run holds --records records (default 100) of --channels analog (default 8) and\n"
    "  --digital digital channels (default 0), --period-ms apart (default 1000), written in\n"
    "  batches of --batch, as fast as possible or, with --paced, one period at a time.\n"
    "  --start S      the first run starts at S (UTC seconds since 1970; default: now)\n"
    "  --events N     N event lines and positions per run, each on a record's time (N <= records)\n"
    "  --purge-before S  deletes the finished runs that stopped before S at the end\n"
    "  --status N     publishes the logger's state as logger N of the host's status channels\n"
    "  --help         this text\n"
    "Prints \"run <location> <records>\" per finished run and \"done\"; exit code 0, 1 when the\n"
    "location fails (the reason on standard error), 2 for bad arguments.\n";

struct Arguments {
    sim_logger::LoggerOptions options;
    long runs = 3;
    long records = 100;
    long batch = 1;
    long channels = 8;
    long digital = 0;
    long start = 0;  // 0: now
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

int usage_error(const std::string& why) {
    std::fprintf(stderr, "qvr_logger: %s\n%s", why.c_str(), kUsage);
    return 2;
}

// An empty text when the arguments are sound, else what is wrong with them.
std::string parse(int argc, char** argv, Arguments& a) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view flag = argv[i];
        if (flag == "--paced") {
            a.options.paced = true;
            continue;
        }
        if (i + 1 >= argc) return std::string(flag) + " needs a value, or is no option";
        const char* value = argv[++i];
        long n = 0;
        if (flag == "--folder") {
            a.options.location = value;
            // A relative data folder names the folder under the current one; connection strings
            // (with '=') stay as they are.
            std::string absolute;
            if (std::strchr(value, '=') == nullptr && platform::absolute_path(value, absolute) == 0)
                a.options.location = absolute;
        }
        else if (flag == "--logger") a.options.logger = value;
        else if (flag == "--prefix") a.options.prefix = value;
        else if (flag == "--period-ms" && number(value, n) && n >= 0) a.options.period_ms = static_cast<std::uint32_t>(n);
        else if (flag == "--status" && number(value, n) && n >= 0) a.options.status_logger = static_cast<int>(n);
        else if (flag == "--runs" && number(value, a.runs) && a.runs >= 0) continue;
        else if (flag == "--records" && number(value, a.records) && a.records >= 0) continue;
        else if (flag == "--batch" && number(value, a.batch) && a.batch > 0) continue;
        else if (flag == "--channels" && number(value, a.channels) && a.channels > 0 && a.channels <= 1000) continue;
        else if (flag == "--digital" && number(value, a.digital) && a.digital >= 0 && a.digital <= 1000) continue;
        else if (flag == "--start" && number(value, a.start) && a.start > 0 && a.start <= INT32_MAX) continue;
        else if (flag == "--events" && number(value, a.events) && a.events >= 0) continue;
        else if (flag == "--purge-before" && number(value, a.purge_before) && a.purge_before >= 0) continue;
        else return "bad option " + std::string(flag) + " " + value;
    }
    // A database notes an event on the row of its second, so every event needs a record.
    if (a.events > a.records) return "--events " + std::to_string(a.events) + " needs at least as many --records";
    return {};
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

// The reason of the last failure: the error's text and what the store or collection kept.
std::string reason(sim_logger::StandInLogger& logger) {
    const int code = platform::last_error();
    std::string text = platform::error_text(code);
    const auto add = [&text](const char* kept) {
        if (kept != nullptr && *kept != '\0') text += std::string("; ") + kept;
    };
    if (log_stores::CLogStore* store = logger.store()) {
        add(store->GetErrorContext());
        add(store->GetErrorText());
    }
    if (log_stores::CLogCollection* collection = logger.collection()) {
        add(collection->GetErrorContext());
        add(collection->GetErrorText());
    }
    return platform::mask_secrets(text);
}

// Reports a failed step; the run being made is dropped, so nothing half-made stays behind.
int step_failed(sim_logger::StandInLogger& logger, const char* what) {
    const std::string why = reason(logger);
    std::fprintf(stderr, "qvr_logger: %s: %s\n", what, why.c_str());
    if (logger.store() != nullptr && logger.discard_run() != 0)
        std::fprintf(stderr, "qvr_logger: the unfinished run %s could not be removed: %s\n",
                     platform::mask_secrets(logger.run_location()).c_str(), reason(logger).c_str());
    return 1;
}

// One run: records, with each event noted once the record of its time is written.
int make_run(sim_logger::StandInLogger& logger, const Arguments& a, long run, std::int32_t start) {
    for (long e = 0; e < a.events; ++e) {
        const long at = (a.records * e) / a.events;
        if (logger.append(at + 1 - logger.records_written(), a.batch) != 0)
            return step_failed(logger, "records not written");
        const TimeStamp time = sim_logger::record_time(start, at, a.options.period_ms);
        if (logger.add_event(time, "Event " + std::to_string(e) + " of run " + std::to_string(run)) != 0 ||
            logger.add_position(time.seconds, static_cast<float>(e) * 1.5f) != 0)
            return step_failed(logger, "event not added");
    }
    if (logger.append(a.records - logger.records_written(), a.batch) != 0)
        return step_failed(logger, "records not written");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    Arguments a;
    if (const std::string wrong = parse(argc, argv, a); !wrong.empty()) return usage_error(wrong);
    if (a.start == 0) a.start = static_cast<long>(std::time(nullptr));
#ifdef QVR_LOGGER_WITH_MYSQL
    log_stores::RegisterMySqlLogStores();
#endif
    a.options.blocks.clear();
    a.options.blocks.push_back({"AA", 1, static_cast<std::uint16_t>(a.channels), false, channel_records("AI", a.channels, false)});
    if (a.digital > 0)
        a.options.blocks.push_back(
            {"DD", 1, static_cast<std::uint16_t>(a.digital), true, channel_records("DI", a.digital, true)});

    sim_logger::StandInLogger logger;
    if (logger.open(a.options) != 0) {
        std::fprintf(stderr, "qvr_logger: cannot open %s: %s\n", platform::mask_secrets(a.options.location).c_str(),
                     reason(logger).c_str());
        return 1;
    }
    const long length = (a.records * static_cast<long>(a.options.period_ms)) / 1000 + 1;
    for (long r = 0; r < a.runs; ++r) {
        const auto start = static_cast<std::int32_t>(a.start + r * (length + 60));
        if (logger.start_run(start) != 0) return step_failed(logger, "no new run");
        if (make_run(logger, a, r, start) != 0) return 1;
        if (logger.finish_run(static_cast<std::int32_t>(start + length)) != 0) {
            std::fprintf(stderr, "qvr_logger: run not finished: %s\n", reason(logger).c_str());
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
