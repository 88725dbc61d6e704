#pragma once
// The texts of the configuration printout: the device block, the communication settings and
// the two-line channel entries of the analog and digital listings, each with its line ends.
// Every number and text goes into a column of fixed width; record texts are cut to their
// column, their control characters shown as blanks so that no record can start a line or a
// page of its own.
#include <cstdint>
#include <string>
#include <string_view>

#include "TOLVA_CF/exports.h"

namespace tolva::cf {

// No line is longer, whatever the records hold; the Qt back end fits this many columns.
inline constexpr std::size_t kMaxPrintoutLine = 160;

// A limit in 8 characters: the most decimals of 6..0 that fit, else the most precise
// exponent form that fits ("1.00e+12"); "nan", "inf" and "-inf" right-aligned.
std::string limit_text(float value);
// "%02d(min) %02d(sec) %03d(ms)" of the split period, minutes held to 99.
std::string period_text(std::uint32_t milliseconds);

// What the device block shows.
struct DeviceBlock {
    std::string_view server_name;
    std::string_view device_name;
    int status = 0;  // 0 DISABLED, any other ENABLED
    bool autosave = false;
    bool by_tag = false;
    std::uint32_t save_rate_ms = 0;
};
std::string device_block_text(const DeviceBlock& block);

// Scan rate, communication settings and output scan options. An empty port is shown as
// "COM" and `default_port_number`, a baud rate of 0 as 19200; a port name longer than its
// column is shown whole.
std::string device_settings_text(const DeviceConfigRecord& config, std::uint16_t default_port_number);

// The device name of the host record, up to its first NUL.
std::string_view host_device_name(const HostDeviceRecord& device);
std::string_view host_config_folder(const HostDeviceRecord& device);

// Headings (two lines and a blank one) and channel entries (two lines). `code` is the
// kind's two-letter module code, `number` the 1-based channel number.
inline constexpr int kHeadingLines = 3;
inline constexpr int kChannelLines = 2;
std::string analog_heading_text();
std::string digital_heading_text();
std::string analog_channel_text(const qvr::ChannelRecord& record, std::string_view code, int number);
std::string digital_channel_text(const qvr::ChannelRecord& record, std::string_view code, int number);
// "CHANNELS <code><first> - <code><last> DISABLED\n".
std::string all_disabled_text(std::string_view code, int first, int last);

}  // namespace tolva::cf
