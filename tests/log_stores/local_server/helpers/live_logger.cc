// local_live_logger: the stand-in logger of the local server's tests in a process of its own.
// Starts a run of the fixture's layout in a data location and appends records while the test
// reads them, leaving the run logging.
//
//   local_live_logger <location> <logger> <start seconds> <records> <batch> <pause us>
//
// Prints "started <run>" once the run exists and "done <records>" when all are written.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "local_server/local_fixtures.h"
#include "platform/last_error.h"
#ifdef LOCAL_SERVER_WITH_MYSQL
#include "log_stores/mysql/register.h"
#endif

namespace {

bool number(const char* text, long& out) {
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && out >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    long start = 0, records = 0, batch = 0, pause_us = 0;
    if (argc != 7 || !number(argv[3], start) || !number(argv[4], records) || !number(argv[5], batch) ||
        batch <= 0 || !number(argv[6], pause_us)) {
        std::fprintf(stderr, "usage: local_live_logger LOCATION LOGGER START RECORDS BATCH PAUSE_US\n");
        return 2;
    }
#ifdef LOCAL_SERVER_WITH_MYSQL
    log_stores::RegisterMySqlLogStores();
#endif
    sim_logger::StandInLogger logger;
    if (logger.open(local_server_test::fixture_options(argv[1], argv[2])) != 0 ||
        logger.start_run(static_cast<std::int32_t>(start)) != 0) {
        std::fprintf(stderr, "local_live_logger: no run (error %d)\n", platform::last_error());
        return 1;
    }
    std::printf("started %s\n", logger.run_location().c_str());
    std::fflush(stdout);
    for (long done = 0; done < records; done += batch) {
        const long n = std::min(batch, records - done);
        if (logger.append(n, n) != 0) {
            std::fprintf(stderr, "local_live_logger: append failed (error %d)\n", platform::last_error());
            return 1;
        }
        if (pause_us > 0) std::this_thread::sleep_for(std::chrono::microseconds(pause_us));
    }
    std::printf("done %lld\n", static_cast<long long>(logger.records_written()));
    std::fflush(stdout);
    return 0;
}
