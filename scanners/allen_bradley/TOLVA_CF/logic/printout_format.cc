#include "TOLVA_CF/logic/printout_format.h"

#include <locale.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "TOLVA_CF/logic/address_notation.h"
#include "qvr/time/timestamp.h"
#include "tolva_ex/records.h"

namespace tolva::cf {

namespace {

// Numbers are printed the same whatever locale the configuration program runs in.
class CLocaleScope {
  public:
    CLocaleScope() : previous_(uselocale(c_locale())) {}
    ~CLocaleScope() { uselocale(previous_); }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

  private:
    static locale_t c_locale() {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        return c != static_cast<locale_t>(nullptr) ? c : LC_GLOBAL_LOCALE;
    }
    locale_t previous_;
};

__attribute__((format(printf, 2, 3))) void appendf(std::string& out, const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    int length = 0;
    {
        const CLocaleScope c_numbers;
        length = std::vsnprintf(buffer, sizeof buffer, format, args);
    }
    va_end(args);
    if (length > 0) out.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer - 1));
}

constexpr const char* kStationColumn = " ST/ EL/SL NO";
constexpr const char* kTypeColumn = " FT  WD/MN/BT";

std::string_view yes_no(bool on) {
    return on ? "Y" : "N";
}

// A record text up to its first NUL, at most `width` bytes, control characters as blanks.
std::string column_text(std::string_view text, std::size_t width) {
    text = text.substr(0, text.find('\0'));
    std::string out(text.substr(0, width));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return out;
}

std::string_view field(const char* bytes, std::size_t size) {
    return {bytes, size};
}

std::string channel_name(std::string_view code, int number) {
    std::string name = column_text(code, 2);
    if (name.empty()) name = " ";
    appendf(name, "%d", number);
    return name;
}

ChannelHwRecord hardware_of(const qvr::ChannelRecord& record, bool digital) {
    ChannelHwRecord hw;
    std::memcpy(&hw, record.bytes + (digital ? kDigitalHwOffset : kAnalogHwOffset), sizeof hw);
    return hw;
}

bool known_type(int type) {
    return type >= 0 && type < kFileTypeCount;
}

std::string address_column_1(const ChannelHwRecord& hw) {
    std::string out;
    appendf(out, " %-3d ", hw.StationNumber);
    if (!known_type(hw.FileType)) return out;
    const bool slot = hw.FileType == file_type::kOutput || hw.FileType == file_type::kInput;
    appendf(out, "%-4d    ", slot ? hw.SlotNumber : hw.ElementNumber);
    return out;
}

std::string address_column_2(const ChannelHwRecord& hw, bool digital) {
    const int type = hw.FileType;
    std::string out = " (";
    out += known_type(type) ? kFileTypeLetters[static_cast<std::size_t>(type)] : ' ';
    out += ") ";
    const auto names = mnemonics_of(type);
    if (!names.empty()) {
        const int mnemonic = hw.MnemonicNumber;
        const bool listed = mnemonic >= 0 && static_cast<std::size_t>(mnemonic) < names.size();
        appendf(out, "%-3s     ", listed ? std::string(names[static_cast<std::size_t>(mnemonic)]).c_str() : "");
    } else if (type == file_type::kInteger || type == file_type::kFloat || (type == file_type::kWord && !digital)) {
        out.append(8, ' ');
    } else if (type == file_type::kStatus && !digital) {
    } else {
        appendf(out, "%-6d  ", hw.SubElementNumber);
    }
    return out;
}

void append_limit(std::string& out, float value, const char* after) {
    out += limit_text(value);
    out += after;
}

// The alarm group of one side: drive common, limit, warning, deadband, priority, delay, text.
struct AlarmSide {
    bool drive_common;
    float limit;
    bool warning_enable;
    float warning_limit;
    bool deadband_enable;
    float deadband_width;
    int priority;
    int delay;
    std::string_view text;
};

void append_alarm_side(std::string& out, bool enabled, const AlarmSide& side) {
    if (!enabled) {
        out.append(74, ' ');
        return;
    }
    appendf(out, "%s ", yes_no(side.drive_common).data());
    append_limit(out, side.limit, " ");
    appendf(out, "%s ", yes_no(side.warning_enable).data());
    if (side.warning_enable) {
        append_limit(out, side.warning_limit, " ");
    } else {
        out.append(9, ' ');
    }
    appendf(out, "%s ", yes_no(side.deadband_enable).data());
    if (side.deadband_enable) {
        append_limit(out, side.deadband_width, " ");
    } else {
        out.append(9, ' ');
    }
    appendf(out, "%-3d %-4d %-32.32s", side.priority, side.delay, column_text(side.text, 32).c_str());
}

}  // namespace

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

std::string analog_heading_text() {
    std::string out;
    appendf(out, "CHAN    ENB TAG                  UNITS      %s EVENT CHCK ALARM CHECKING LOW/HIGH", kStationColumn);
    out.append(53, ' ');
    out += " SIG CHNG\n";
    appendf(out,
            "            DESCRIPTION                     %s ON LOW/HIG O C LIMIT    W LIMIT    H LIMIT    PRI DLY  "
            "MESSAGE",
            kTypeColumn);
    out.append(25, ' ');
    out += " ON/VALUE\n\n";
    return out;
}

std::string digital_heading_text() {
    std::string out = "CHAN    ENB TAG                              ";
    appendf(out, " LOW STAT                        %s EVENT  ALARM  COM ALM ALM  ALARM\n", kStationColumn);
    out += "            DESCRIPTION                      ";
    appendf(out, " HIG STAT                        %s STATE  STATE  ALM PRI DLY  MESSAGE\n\n", kTypeColumn);
    return out;
}

std::string analog_channel_text(const qvr::ChannelRecord& record, std::string_view code, int number) {
    using qvr::AnalogFlag;
    const qvr::AnalogChannel& a = record.analog;
    const qvr::ChannelFlags& f = a.Flags;
    const ChannelHwRecord hw = hardware_of(record, false);
    const bool event = f.test(AnalogFlag::EventEnable);

    std::string out;
    appendf(out, "%-7.7s [", channel_name(code, number).c_str());
    appendf(out, "%s] ", yes_no(f.test(AnalogFlag::Enable)).data());
    appendf(out, "%-15.15s      ", column_text(qvr::join_text(record, qvr::ChannelText::Tag), 15).c_str());
    appendf(out, "%-8.8s   ", column_text(qvr::join_text(record, qvr::ChannelText::Units), 8).c_str());
    appendf(out, "%s %s ", address_column_1(hw).c_str(), yes_no(event).data());
    if (event) {
        out += limit_text(a.LowEventLimit);
    } else {
        out.append(8, ' ');
    }
    const bool low = f.test(AnalogFlag::LowAlarmEnable);
    appendf(out, " %s ", yes_no(low).data());
    append_alarm_side(out, low,
                      {f.test(AnalogFlag::LowAlarmDriveCommon), a.LowAlarmLimit, f.test(AnalogFlag::LowWarningEnable),
                       a.LowWarningLimit, f.test(AnalogFlag::LowAlarmDeadbandEnable),
                       a.LowAlarmDeadband - a.LowAlarmLimit, a.LowAlarmPriority, a.LowAlarmDelay,
                       field(a.LowAlarmText, sizeof a.LowAlarmText)});
    const bool sig_change = f.test(AnalogFlag::SigChangeEnable);
    appendf(out, " [%s]     \n", yes_no(sig_change).data());

    appendf(out, "            %-32.32s%s   ",
            column_text(qvr::join_text(record, qvr::ChannelText::Description), 32).c_str(),
            address_column_2(hw, false).c_str());
    if (event) {
        out += limit_text(a.HighEventLimit);
    } else {
        out.append(8, ' ');
    }
    const bool high = f.test(AnalogFlag::HighAlarmEnable);
    appendf(out, " %s ", yes_no(high).data());
    append_alarm_side(out, high,
                      {f.test(AnalogFlag::HighAlarmDriveCommon), a.HighAlarmLimit,
                       f.test(AnalogFlag::HighWarningEnable), a.HighWarningLimit,
                       f.test(AnalogFlag::HighAlarmDeadbandEnable), a.HighAlarmLimit - a.HighAlarmDeadband,
                       a.HighAlarmPriority, a.HighAlarmDelay, field(a.HighAlarmText, sizeof a.HighAlarmText)});
    if (sig_change) {
        out += " " + limit_text(a.SigChangeValue);
    } else {
        out.append(9, ' ');
    }
    out += "\n";
    return out;
}

std::string digital_channel_text(const qvr::ChannelRecord& record, std::string_view code, int number) {
    using qvr::DigitalFlag;
    const qvr::DigitalChannel& d = record.digital;
    const qvr::ChannelFlags& f = d.Flags;
    const ChannelHwRecord hw = hardware_of(record, true);
    const bool enabled = f.test(DigitalFlag::Enable);
    const auto state = [](bool high) { return high ? "HIGH" : "LOW "; };

    std::string out;
    appendf(out, "%-7.7s [%s] ", channel_name(code, number).c_str(), yes_no(enabled).data());
    if (enabled) {
        appendf(out, "%-15.15s ", column_text(qvr::join_text(record, qvr::ChannelText::Tag), 15).c_str());
        out.append(20, ' ');
        appendf(out, " %-32.32s", column_text(field(d.LowStateText, sizeof d.LowStateText), 32).c_str());
        appendf(out, "%s ", address_column_1(hw).c_str());
        if (f.test(DigitalFlag::EventEnable)) {
            appendf(out, "[%s] ", state(f.test(DigitalFlag::EventState)));
        } else {
            out += "[DISB] ";
        }
        if (f.test(DigitalFlag::AlarmEnable)) {
            appendf(out, "[%s] [%s] %-3d %-4d %-32.32s", state(f.test(DigitalFlag::AlarmState)),
                    yes_no(f.test(DigitalFlag::AlarmDriveCommon)).data(), d.AlarmPriority, d.AlarmDelay,
                    column_text(field(d.AlarmText, sizeof d.AlarmText), 32).c_str());
        } else {
            out += "[DISB] ";
        }
    }
    out += "\n";
    appendf(out, "            %-32.32s ",
            column_text(qvr::join_text(record, qvr::ChannelText::Description), 32).c_str());
    appendf(out, " %-32.32s%s\n", column_text(field(d.HighStateText, sizeof d.HighStateText), 32).c_str(),
            address_column_2(hw, true).c_str());
    return out;
}

std::string all_disabled_text(std::string_view code, int first, int last) {
    return "CHANNELS " + channel_name(code, first) + " - " + channel_name(code, last) + " DISABLED\n";
}

}  // namespace tolva::cf
