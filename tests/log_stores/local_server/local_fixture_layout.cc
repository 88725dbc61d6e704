// The layout the fixture's loggers write: kept apart from the test fixtures so that the
// helper programs can write the same runs.
#include "host/runtime_host.h"
#include "local_server/local_fixtures.h"

namespace local_server_test {
namespace {

std::vector<qvr::ChannelRecord> channel_records(const std::string& stem, int first, int last, bool digital) {
    std::vector<qvr::ChannelRecord> records;
    for (int i = first; i <= last; ++i) {
        const std::string tag = stem + std::to_string(i);
        records.push_back(digital ? sim_host::digital_input(tag, "Digital " + tag)
                                  : sim_host::analog_input(tag, "Analog " + tag));
    }
    return records;
}

}  // namespace

std::vector<sim_logger::LoggerBlock> fixture_blocks() {
    return {
        {"AI", 1, 4, false, channel_records("AI", 1, 4, false)},
        {"AI", 5, 8, false, channel_records("AI", 5, 8, false)},
        {"DI", 1, 4, true, channel_records("DI", 1, 4, true)},
    };
}

std::string run_prefix_of(const std::string& logger) {
    return logger + "_";
}

sim_logger::LoggerOptions fixture_options(const std::string& location, const std::string& logger) {
    sim_logger::LoggerOptions o;
    o.location = location;
    o.logger = logger;
    o.prefix = run_prefix_of(logger);
    o.blocks = fixture_blocks();
    o.header_text = kHeaderText;
    o.period_ms = kPeriodMs;
    return o;
}

std::vector<FixtureEvent> fixture_events(int run) {
    const std::int32_t start = run == 0 ? kFinishedStart : kLoggingStart;
    const std::string of = run == 0 ? " of the finished run" : " of the logging run";
    return {
        {TimeStamp{start + 2, 250, 0}, "KILN STARTED" + of},
        {TimeStamp{start + 9, 0, 0}, "SETPOINT CHANGED" + of},
    };
}

}  // namespace local_server_test
