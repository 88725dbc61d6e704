#include "channel_table.h"

#include <cstdio>
#include <cstring>

#include "qvr/host/device_module_layout.h"

namespace sim_demo {
namespace {

constexpr const char* kKindNames[] = {"AI", "DI", "AO", "DO", "CI"};

std::string field(const char* text, size_t size) {
    return std::string(text, strnlen(text, size));
}

std::string status_words(uint32_t w, bool analog) {
    if ((w & qvr::kStatusFailed) != 0) return "failed";
    std::string s;
    const auto add = [&](const char* word) { s += s.empty() ? word : std::string(" ") + word; };
    if ((w & qvr::kStatusAlarmActive) != 0)
        add(!analog ? "alarm" : (w & qvr::kStatusAlarmHigh) != 0 ? "alarm high" : "alarm low");
    if ((w & qvr::kStatusWarningActive) != 0)
        add((w & qvr::kStatusWarningHigh) != 0 ? "warning high" : "warning low");
    if ((w & qvr::kStatusEventActive) != 0) add("event");
    return s.empty() ? "ok" : s;
}

std::string number(float v) {
    char text[32];
    std::snprintf(text, sizeof text, v == static_cast<float>(static_cast<long long>(v)) ? "%.0f" : "%.2f",
                  static_cast<double>(v));
    return text;
}

void add_rows(sim_host::RuntimeHost& host, const std::string& code, const std::string& kind,
              std::vector<ChannelRow>& rows) {
    for (int channel = 1;; ++channel) {
        const qvr::ChannelRecord* record = host.channel_record(code, channel);
        if (record == nullptr) break;
        const uint32_t word = host.status_word(code, channel);
        ChannelRow row;
        row.kind = kind;
        row.tag = chanrec_GetTag(record);
        if (row.tag.empty()) continue;  // statistics records before the scanner set them up
        row.description = chanrec_GetDescription(record);
        if (qvr::is_digital(record->head.Type)) {
            const bool on = (word & qvr::kStatusState) != 0;
            std::string state = on ? field(record->digital.HighStateText, sizeof record->digital.HighStateText)
                                   : field(record->digital.LowStateText, sizeof record->digital.LowStateText);
            row.value = state.empty() ? (on ? "1" : "0") : state;
            row.status = status_words(word, false);
        } else {
            row.value = number(host.value(code, channel));
            row.units = chanrec_GetUnits(record);
            row.status = status_words(word, true);
        }
        rows.push_back(std::move(row));
    }
}

const char* form_name(uint32_t form) {
    switch (qvr::form_of(form)) {
        case qvr::kFormAlarm: return "alarm";
        case qvr::kFormEvent: return "cleared";
        case qvr::kFormWarning: return "warning";
        case qvr::kFormWarningEvent: return "warning cleared";
        default: return "notice";
    }
}

}  // namespace

std::vector<ChannelRow> read_rows(sim_host::RuntimeHost& host, const sim_host::DeviceSpec& spec) {
    std::vector<ChannelRow> rows;
    for (size_t k = 0; k < spec.codes.size(); ++k)
        if (!spec.codes[k].empty()) add_rows(host, spec.codes[k], kKindNames[k], rows);
    if (!spec.stats_code.empty()) add_rows(host, spec.stats_code, "PS", rows);
    return rows;
}

std::vector<std::string> format_rows(const std::vector<ChannelRow>& rows) {
    std::vector<std::string> lines;
    char line[200];
    const char* format = "%-4s %-16s %12s  %-8s %-16s %s";
    std::snprintf(line, sizeof line, format, "kind", "tag", "value", "units", "status", "description");
    lines.emplace_back(line);
    for (const auto& r : rows) {
        std::snprintf(line, sizeof line, format, r.kind.c_str(), r.tag.c_str(), r.value.c_str(), r.units.c_str(),
                      r.status.c_str(), r.description.c_str());
        lines.emplace_back(line);
    }
    return lines;
}

std::vector<std::string> table_legend() {
    return {
        "kind  AI/DI inputs read from the controllers, AO/DO outputs written to them, PS the scanner's",
        "      port statistics (tag <device>_<row>): ST online, RS reset request (write RESET), RB/RP",
        "      bytes/packets received, RT receive time-outs, RE receive line errors, RC receive",
        "      checksum errors, TB/TP bytes/packets sent, TE send errors",
        "status  ok; failed (no good value); alarm or warning high/low (a limit crossed); event",
    };
}

std::string describe_alarm(sim_host::RuntimeHost& host, const qvr::AlarmMessage& message) {
    const std::string code(message.code, 2);
    const int channel = message.channel & ~qvr::kChannelFailedBit;
    const qvr::ChannelRecord* record = host.channel_record(code, channel);
    const bool analog = (message.form & qvr::kFormAnalog) != 0;
    const bool high = (message.form & qvr::kFormHighSide) != 0;
    // An unknown channel still names where it lies.
    const std::string tag = record != nullptr ? chanrec_GetTag(record) : code + " channel " + std::to_string(channel);
    std::string text;
    if (record != nullptr) {
        if (!analog) text = field(record->digital.AlarmText, sizeof record->digital.AlarmText);
        else if (high) text = field(record->analog.HighAlarmText, sizeof record->analog.HighAlarmText);
        else text = field(record->analog.LowAlarmText, sizeof record->analog.LowAlarmText);
    }
    const std::string sent = field(message.text, sizeof message.text);
    if (!sent.empty()) text = sent;
    const auto value = qvr::message_value(message);
    std::string out = std::string(form_name(message.form)) + " " + tag;
    if (analog) out += high ? " high" : " low";
    if ((message.channel & qvr::kChannelFailedBit) != 0) out += " failed";
    const uint32_t form = qvr::form_of(message.form);
    if (form == qvr::kFormAlarm || form == qvr::kFormWarning)
        out += " priority " + std::to_string(qvr::priority_of(message.form));
    out += " value " + (value ? number(*value) : std::string("-"));
    if (!text.empty()) out += ": " + text;
    return out;
}

}  // namespace sim_demo
