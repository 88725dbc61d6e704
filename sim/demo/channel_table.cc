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
    char line[160];
    std::snprintf(line, sizeof line, "%-4s %-16s %12s  %-8s %s", "kind", "tag", "value", "units", "status");
    lines.emplace_back(line);
    for (const auto& r : rows) {
        std::snprintf(line, sizeof line, "%-4s %-16s %12s  %-8s %s", r.kind.c_str(), r.tag.c_str(),
                      r.value.c_str(), r.units.c_str(), r.status.c_str());
        lines.emplace_back(line);
    }
    return lines;
}

std::string describe_alarm(sim_host::RuntimeHost& host, const qvr::AlarmMessage& message) {
    const std::string code(message.code, 2);
    const qvr::ChannelRecord* record = host.channel_record(code, message.channel);
    const std::string tag = record != nullptr ? chanrec_GetTag(record) : "?";
    std::string side;
    if ((message.form & qvr::kFormAnalog) != 0) side = (message.form & qvr::kFormHighSide) != 0 ? "high" : "low";
    const auto value = qvr::message_value(message);
    char line[400];
    std::snprintf(line, sizeof line, "%-15s %-12s (%s:%u)  %-4s  priority %u  value %s", form_name(message.form),
                  tag.c_str(), code.c_str(), message.channel, side.c_str(), qvr::priority_of(message.form),
                  value ? number(*value).c_str() : "-");
    std::string out = line;
    const std::string text = field(message.text, sizeof message.text);
    if (!text.empty()) out += "  " + text;
    return out;
}

}  // namespace sim_demo
