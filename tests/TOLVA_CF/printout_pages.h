#pragma once
// Expected printout lines built from the printout's own formats, and the records they show,
// for the tests of the formatter and of the print entry points.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "TOLVA_CF/exports.h"
#include "qvr/records/channel_record.h"
#include "tolva_ex/records.h"

namespace tolva_cf_test {

using Page = std::vector<std::string>;
using Pages = std::vector<Page>;

__attribute__((format(printf, 1, 2))) inline std::string fmt(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

inline std::string blanks(int n) {
    return std::string(static_cast<std::size_t>(n), ' ');
}

// Splits text at its line ends ("a\nb\n" gives "a", "b").
inline Page lines_of(const std::string& text) {
    Page lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') continue;
        lines.push_back(text.substr(start, i - start));
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

inline void append(Page& page, const Page& more) {
    page.insert(page.end(), more.begin(), more.end());
}

inline Page analog_heading() {
    return lines_of(fmt("CHAN    ENB TAG                  UNITS      %s EVENT CHCK ALARM CHECKING LOW/HIGH",
                        " ST/ EL/SL NO") +
                    blanks(53) + " SIG CHNG" + "\n" +
                    fmt("            DESCRIPTION                     %s ON LOW/HIG O C LIMIT    W LIMIT    H LIMIT    "
                        "PRI DLY  MESSAGE",
                        " FT  WD/MN/BT") +
                    blanks(25) + " ON/VALUE" + "\n\n");
}

inline Page digital_heading() {
    return lines_of(std::string("CHAN    ENB TAG                              ") +
                    fmt(" LOW STAT                        %s EVENT  ALARM  COM ALM ALM  ALARM\n", " ST/ EL/SL NO") +
                    "            DESCRIPTION                      " +
                    fmt(" HIG STAT                        %s STATE  STATE  ALM PRI DLY  MESSAGE\n\n",
                        " FT  WD/MN/BT"));
}

inline void set_hw(qvr::ChannelRecord& record, const tolva::ChannelHwRecord& hw) {
    const std::size_t offset = qvr::is_digital(record.head.Type) ? 192 : 188;
    std::memcpy(record.bytes + offset, &hw, sizeof hw);
}

inline tolva::ChannelHwRecord hw_address(int station, int type, int file, int element, int sub, int mnemonic,
                                         int slot) {
    tolva::ChannelHwRecord hw{};
    hw.StationNumber = static_cast<std::uint8_t>(station);
    hw.FileType = static_cast<std::int8_t>(type);
    hw.FileNumber = static_cast<std::int16_t>(file);
    hw.ElementNumber = static_cast<std::int16_t>(element);
    hw.SubElementNumber = static_cast<std::int16_t>(sub);
    hw.MnemonicNumber = static_cast<std::int16_t>(mnemonic);
    hw.SlotNumber = static_cast<std::int16_t>(slot);
    return hw;
}

inline qvr::ChannelRecord digital_channel(const char* tag, bool enabled = true) {
    qvr::ChannelRecord r{};
    r.head.Type = qvr::ChannelKind::DI;
    chanrec_SetTag(&r, tag);
    chanrec_SetDescription(&r, "Door switch");
    std::snprintf(r.digital.HighStateText, sizeof r.digital.HighStateText, "OPEN");
    std::snprintf(r.digital.LowStateText, sizeof r.digital.LowStateText, "SHUT");
    r.head.Flags.set(qvr::DigitalFlag::Enable, enabled);
    set_hw(r, hw_address(4, 3, 3, 12, 5, -1, 12));
    return r;
}

inline qvr::ChannelRecord plain_analog(const char* tag, bool enabled = true) {
    qvr::ChannelRecord r{};
    r.head.Type = qvr::ChannelKind::AI;
    chanrec_SetTag(&r, tag);
    chanrec_SetDescription(&r, "Level");
    chanrec_SetUnits(&r, "m");
    r.head.Flags.set(qvr::AnalogFlag::Enable, enabled);
    set_hw(r, hw_address(2, 7, 7, 10, -1, -1, 10));
    return r;
}

// Two lines of a plain analog channel (every option off) on N7:<element>, station 2.
inline Page plain_analog_lines(const char* name, const char* tag, int element = 10) {
    const std::string column1 = fmt(" %-3d ", 2) + fmt("%-4d    ", element);
    std::string line1 = fmt("%-7.7s [", name) + fmt("%s] ", "Y") + fmt("%-15.15s      ", tag) +
                        fmt("%-8.8s   ", "m") + fmt("%s %s ", column1.c_str(), "N") + blanks(8) + fmt(" %s ", "N") +
                        blanks(74) + fmt(" [%s]     ", "N");
    std::string line2 = fmt("            %-32.32s%s   ", "Level", (fmt(" (%s) ", "N") + blanks(8)).c_str()) +
                        blanks(8) + fmt(" %s ", "N") + blanks(74) + blanks(9);
    return {line1, line2};
}

// A host device record of device "PRESS_LINE" with the given kind tables.
inline tolva::HostDeviceRecord host_device(std::uint16_t port = 7) {
    tolva::HostDeviceRecord device{};
    device.PortNumber = port;
    std::snprintf(device.DeviceName, sizeof device.DeviceName, "PRESS_LINE");
    std::snprintf(device.ConfigFolder, sizeof device.ConfigFolder, "PRESS_LINE");
    return device;
}

inline void set_kind(tolva::HostDeviceRecord& device, int kind, const char* code, int count) {
    std::memcpy(device.Kinds[kind].ModuleCode, code, std::min<std::size_t>(2, std::strlen(code)));
    device.Kinds[kind].ChannelCount = static_cast<std::uint16_t>(count);
}

}  // namespace tolva_cf_test
