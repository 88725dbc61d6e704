#pragma once
// The device the rig, the demo and the configuration program stand-in share: two controllers
// (stations 1 and 2) reached through COM3 at 19200 baud, with
//   AI "LEVEL" N7:0 and "TEMP" F8:1 of station 1, "REMOTE" N7:0 of station 2;
//   DI "RUN" B3:0/0 and "FAULT" B3:0/1; AO "SETPOINT" N7:10 and "SPEED" F8:5;
//   DO "PUMP" B3:1/0 and "VALVE" B3:1/3; ten statistics channels.
// The plain device has bare channels; the sample device adds units, alarm and warning limits
// with their texts, state texts and a scan rate of 500 ms.
#include <cstdint>

#include "host/runtime_host.h"
#include "qvr/records/channel_record.h"
#include "tolva_ex/records.h"

namespace sim_rig {

inline constexpr const char* kPort = "COM3";
inline constexpr uint8_t kStationOne = 1;
inline constexpr uint8_t kStationTwo = 2;
inline constexpr uint32_t kBaudRate = 19200;

// Channel records addressing the rig's controllers.
qvr::ChannelRecord analog_input(const char* tag, uint8_t station, int8_t file_type, int16_t file, int16_t element);
qvr::ChannelRecord analog_output(const char* tag, uint8_t station, int8_t file_type, int16_t file, int16_t element);
qvr::ChannelRecord digital_input(const char* tag, uint8_t station, int16_t file, int16_t word, int16_t bit);
qvr::ChannelRecord digital_output(const char* tag, uint8_t station, int16_t file, int16_t word, int16_t bit);

// Sets the channels, module codes and configuration of the plain device (scan rate 1000 ms).
void plain_device(sim_host::DeviceSpec& spec, tolva::DeviceConfigRecord& config);
// Adds the sample device's units, limits, texts and scan rate to the plain device.
void describe_sample_device(sim_host::DeviceSpec& spec, tolva::DeviceConfigRecord& config);

inline constexpr int32_t kSampleScanRateMs = 500;

}  // namespace sim_rig
