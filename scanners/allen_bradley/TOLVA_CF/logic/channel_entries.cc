// The channel listings: headings, the two lines of an analog or digital channel, and the
// controller address columns inside them.
#include <cstring>

#include "TOLVA_CF/logic/address_notation.h"
#include "TOLVA_CF/logic/printout_columns.h"
#include "TOLVA_CF/logic/printout_format.h"
#include "tolva_ex/records.h"

namespace tolva::cf {

using namespace printout_columns;

namespace {

constexpr const char* kStationColumn = " ST/ EL/SL NO";
constexpr const char* kTypeColumn = " FT  WD/MN/BT";

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
