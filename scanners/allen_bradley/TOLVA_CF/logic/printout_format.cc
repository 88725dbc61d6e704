#include "TOLVA_CF/logic/printout_format.h"

#include <cmath>
#include <cstdio>

#include "TOLVA_CF/logic/printout_columns.h"
#include "qvr/time/timestamp.h"
#include "tolva_ex/records.h"

namespace tolva::cf {

using namespace printout_columns;

std::string limit_text(float value) {
    char text[64];
    if (std::isnan(value)) return "     nan";
    if (std::isinf(value)) return value < 0 ? "    -inf" : "     inf";
    const CLocaleScope c_numbers;
    for (int precision = 6; precision >= 0; --precision) {
        const int length = std::snprintf(text, sizeof text, "%8.*f", precision, static_cast<double>(value));
        if (length > 0 && length <= 8) return std::string(text, static_cast<std::size_t>(length));
    }
    for (int precision = 6; precision >= 0; --precision) {
        const int length = std::snprintf(text, sizeof text, "%8.*e", precision, static_cast<double>(value));
        if (length > 0 && length <= 8) return std::string(text, static_cast<std::size_t>(length));
    }
    return "   *****";  // not reached for a float: "-3e+38" fits
}

std::string period_text(std::uint32_t milliseconds) {
    MinSecMs split{};
    rt_SplitMilliseconds(&split, milliseconds);
    std::string out;
    appendf(out, "%02d(min) %02d(sec) %03d(ms)", split.minutes, split.seconds, split.milliseconds);
    return out;
}

std::string_view host_device_name(const HostDeviceRecord& device) {
    const std::string_view name = field(device.DeviceName, sizeof device.DeviceName);
    return name.substr(0, name.find('\0'));
}

std::string_view host_config_folder(const HostDeviceRecord& device) {
    const std::string_view name = field(device.ConfigFolder, sizeof device.ConfigFolder);
    return name.substr(0, name.find('\0'));
}

std::string device_block_text(const DeviceBlock& block) {
    std::string out;
    appendf(out, "        SERVER NAME    [%s]\n", column_text(block.server_name, 64).c_str());
    appendf(out, "        %-14s [%s]\n", "DEVICE NAME", column_text(block.device_name, 64).c_str());
    appendf(out, "        STATUS         [%s]\n", block.status != 0 ? "ENABLED " : "DISABLED");
    appendf(out, "        AUTOSAVE       [%s]", yes_no(block.autosave).data());
    if (block.autosave) {
        appendf(out, "                    BY TAG  [%s]       SAVE RATE %s", yes_no(block.by_tag).data(),
                period_text(block.save_rate_ms).c_str());
    }
    out += "\n\n\n";
    return out;
}

std::string device_settings_text(const DeviceConfigRecord& config, std::uint16_t default_port_number) {
    // The defaults are shown, never written into the caller's record.
    std::string port = column_text(comm_port(config.Comm), sizeof config.Comm.CommPort);
    if (port.empty()) {
        port = "COM";
        appendf(port, "%u", static_cast<unsigned>(default_port_number));
    }
    const std::uint32_t baud = config.Comm.BaudRate != 0 ? config.Comm.BaudRate : kDefaultBaudRate;
    const CommSettings& comm = config.Comm;

    std::string out;
    appendf(out, "        SCAN RATE %s\n\n", period_text(config.ScanRate).c_str());
    out += "COMMUNICATION SETTINGS:\n";
    appendf(out, "        PORT [%-6s]                      BAUD RATE [%-6u]\n", port.c_str(), baud);
    appendf(out, "        WAIT REPLY TIMEOUT (SEC)                     %-3u\n", comm.ReplyTimeout);
    appendf(out, "        WAIT ACKNOWLEDGEMENT TIMEOUT (CHARS)         %-3u\n", comm.ReplyAck);
    appendf(out, "        MAXIMUM NUMBER OF RETRIES (SEC)              %-3u\n", comm.MaxRetries);
    appendf(out, "        MAXIMUM NUMBER OF ENQUIRES (SEC)             %-3u\n\n", comm.MaxEnquires);
    out += "OUTPUT SCAN OPTIONS:\n";
    appendf(out, "        READ OUTPUTS FROM DEVICE ON FIRST SCAN       [%s]\n", yes_no(comm.ReadFirst != 0).data());
    appendf(out, "        READ OUTPUTS BACK FROM DEVICE IF NOT WRITING [%s]\n\n",
            yes_no(comm.ReadBack != 0).data());
    return out;
}

}  // namespace tolva::cf
