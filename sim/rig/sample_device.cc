#include "rig/sample_device.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "qvr/util/fixed_text.h"

namespace sim_rig {
namespace {

qvr::ChannelRecord make(qvr::ChannelKind kind, const char* tag, tolva::ChannelHwRecord hw) {
    qvr::ChannelRecord r{};
    r.head.Type = kind;
    r.head.Flags.set(qvr::AnalogFlag::Enable, true);
    qvr::split_text(r, qvr::ChannelText::Tag, tag);
    tolva::write_channel_hw(r.bytes, hw);
    if (!qvr::is_digital(kind)) r.analog.Gain = 1.0f;
    return r;
}

tolva::ChannelHwRecord address(uint8_t station, int8_t type, int16_t file, int16_t element, int16_t sub = -1) {
    tolva::ChannelHwRecord h{};
    h.StationNumber = station;
    h.FileType = type;
    h.FileNumber = file;
    h.ElementNumber = element;
    h.SubElementNumber = sub;
    h.MnemonicNumber = -1;
    h.SlotNumber = element;
    return h;
}

void set_units(qvr::ChannelRecord& record, const char* units) {
    qvr::split_text(record, qvr::ChannelText::Units, units);
}

void set_description(qvr::ChannelRecord& record, const char* description) {
    qvr::split_text(record, qvr::ChannelText::Description, description);
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

qvr::ChannelRecord analog_input(const char* tag, uint8_t station, int8_t file_type, int16_t file, int16_t element) {
    return make(qvr::ChannelKind::AI, tag, address(station, file_type, file, element));
}
qvr::ChannelRecord analog_output(const char* tag, uint8_t station, int8_t file_type, int16_t file, int16_t element) {
    return make(qvr::ChannelKind::AO, tag, address(station, file_type, file, element));
}
qvr::ChannelRecord digital_input(const char* tag, uint8_t station, int16_t file, int16_t word, int16_t bit) {
    return make(qvr::ChannelKind::DI, tag, address(station, tolva::file_type::kBinary, file, word, bit));
}
qvr::ChannelRecord digital_output(const char* tag, uint8_t station, int16_t file, int16_t word, int16_t bit) {
    return make(qvr::ChannelKind::DO, tag, address(station, tolva::file_type::kBinary, file, word, bit));
}

void plain_device(sim_host::DeviceSpec& spec, tolva::DeviceConfigRecord& config) {
    using tolva::file_type::kFloat;
    using tolva::file_type::kInteger;
    spec.channels[0] = {analog_input("LEVEL", kStationOne, kInteger, 7, 0),
                        analog_input("TEMP", kStationOne, kFloat, 8, 1),
                        analog_input("REMOTE", kStationTwo, kInteger, 7, 0)};
    spec.channels[1] = {digital_input("RUN", kStationOne, 3, 0, 0), digital_input("FAULT", kStationOne, 3, 0, 1)};
    spec.channels[2] = {analog_output("SETPOINT", kStationOne, kInteger, 7, 10),
                        analog_output("SPEED", kStationOne, kFloat, 8, 5)};
    spec.channels[3] = {digital_output("PUMP", kStationOne, 3, 1, 0), digital_output("VALVE", kStationOne, 3, 1, 3)};
    spec.channels[4].clear();
    spec.codes[4].clear();  // no counter inputs
    spec.stats_channels.assign(10, qvr::ChannelRecord{});

    config = {};
    config.ScanRate = 1000;
    std::memcpy(config.Comm.CommPort, kPort, std::strlen(kPort));
    config.Comm.BaudRate = kBaudRate;
    config.Comm.ReplyTimeout = 1;
}

void describe_sample_device(sim_host::DeviceSpec& spec, tolva::DeviceConfigRecord& config) {
    auto& inputs = spec.channels[0];
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

    set_states(spec.channels[1][0], "RUN", "STOP");
    qvr::ChannelRecord& fault = spec.channels[1][1];  // station 1 B3:0/1
    set_states(fault, "FAULT", "OK");
    set_text(fault.digital.AlarmText, "PUMP FAULT");
    fault.head.Flags.set(qvr::DigitalFlag::AlarmEnable, true);
    fault.head.Flags.set(qvr::DigitalFlag::AlarmState, true);
    fault.digital.AlarmPriority = 3;

    for (auto& output : spec.channels[2]) open_limits(output.analog);
    set_units(spec.channels[2][0], "%");
    set_units(spec.channels[2][1], "rpm");

    set_states(spec.channels[3][0], "ON", "OFF");
    set_states(spec.channels[3][1], "OPEN", "SHUT");

    const char* descriptions[4][3] = {{"TANK LEVEL", "WATER TEMPERATURE", "PARTS COUNTED"},
                                      {"LINE RUNNING", "PUMP FAULT"},
                                      {"LEVEL SETPOINT", "PUMP SPEED"},
                                      {"PUMP", "DRAIN VALVE"}};
    for (size_t k = 0; k < 4; ++k)
        for (size_t i = 0; i < spec.channels[k].size() && i < 3; ++i)
            if (descriptions[k][i] != nullptr) set_description(spec.channels[k][i], descriptions[k][i]);

    config.ScanRate = kSampleScanRateMs;
}

}  // namespace sim_rig
