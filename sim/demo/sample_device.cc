#include "sample_device.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string_view>

namespace sim_demo {
namespace {

void set_units(qvr::ChannelRecord& record, const char* units) {
    qvr::split_text(record, qvr::ChannelText::Units, units);
}

template <size_t N>
void set_text(char (&field)[N], std::string_view text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

void set_states(qvr::ChannelRecord& record, std::string_view on, std::string_view off) {
    set_text(record.digital.HighStateText, on);
    set_text(record.digital.LowStateText, off);
}

// Limits of the sides a channel does not use lie far outside its range.
void open_limits(qvr::AnalogChannel& a) {
    a.HighAlarmLimit = 1e6f;
    a.HighWarningLimit = 1e6f;
    a.HighEventLimit = 1e6f;
    a.LowAlarmLimit = -1e6f;
    a.LowWarningLimit = -1e6f;
    a.LowEventLimit = -1e6f;
}

}  // namespace

void describe_sample_device(sim_rig::ScannerRig& rig) {
    auto& inputs = rig.spec.channels[0];
    qvr::ChannelRecord& level = inputs[0];  // station 1 N7:0
    set_units(level, "%");
    open_limits(level.analog);
    level.head.Flags.set(qvr::AnalogFlag::HighAlarmEnable, true);
    level.head.Flags.set(qvr::AnalogFlag::HighWarningEnable, true);
    level.analog.HighAlarmLimit = 90;
    level.analog.HighWarningLimit = 80;
    level.analog.HighAlarmPriority = 7;
    set_text(level.analog.HighAlarmText, "TANK LEVEL HIGH");

    qvr::ChannelRecord& temp = inputs[1];  // station 1 F8:1
    set_units(temp, "degC");
    open_limits(temp.analog);
    temp.head.Flags.set(qvr::AnalogFlag::LowAlarmEnable, true);
    temp.head.Flags.set(qvr::AnalogFlag::LowWarningEnable, true);
    temp.analog.LowAlarmLimit = 11;
    temp.analog.LowWarningLimit = 13;
    temp.analog.LowAlarmPriority = 5;
    set_text(temp.analog.LowAlarmText, "WATER TOO COLD");

    set_units(inputs[2], "pcs");  // station 2 N7:0
    open_limits(inputs[2].analog);

    set_states(rig.spec.channels[1][0], "RUN", "STOP");
    qvr::ChannelRecord& fault = rig.spec.channels[1][1];  // station 1 B3:0/1
    set_states(fault, "FAULT", "OK");
    set_text(fault.digital.AlarmText, "PUMP FAULT");
    fault.head.Flags.set(qvr::DigitalFlag::AlarmEnable, true);
    fault.head.Flags.set(qvr::DigitalFlag::AlarmState, true);
    fault.digital.AlarmPriority = 3;

    for (auto& output : rig.spec.channels[2]) open_limits(output.analog);
    set_units(rig.spec.channels[2][0], "%");
    set_units(rig.spec.channels[2][1], "rpm");

    set_states(rig.spec.channels[3][0], "ON", "OFF");
    set_states(rig.spec.channels[3][1], "OPEN", "SHUT");

    rig.config.ScanRate = kScanRateMs;
}

void drive_inputs(sim_controller::ControllerNetwork& network, double seconds) {
    using sim_rig::kStationOne;
    using sim_rig::kStationTwo;
    // A sawtooth over 10 s that starts at 70, so the warning and the alarm come early.
    const double level = std::fmod(70.0 + 10.0 * seconds, 100.0);
    network.set_value(kStationOne, "N7:0", std::floor(level));
    network.set_value(kStationOne, "F8:1", 20.0 + 10.0 * std::sin(2 * std::numbers::pi * seconds / 12.0));
    network.set_value(kStationTwo, "N7:0", std::fmod(std::floor(seconds * 10.0), 10000.0));
    network.set_value(kStationOne, "B3:0/0", std::fmod(seconds, 4.0) < 2.0 ? 1 : 0);
    network.set_value(kStationOne, "B3:0/1", std::fmod(seconds, 7.0) >= 5.0 ? 1 : 0);
}

}  // namespace sim_demo
