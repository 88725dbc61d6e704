#include "log_stores/status_channels/status_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "log_stores/status_channels/logger_status.h"
#include "platform/ascii_text.h"

namespace log_stores::status {

const std::array<ChannelText, 32> kChannelTexts{{
    {"STATUS", "STATUS", "ENABLED", "DISABLED"},
    {"DIRECTORY1", "DIRECTORY1", "N/A", "N/A"},
    {"DIRECTORY2", "DIRECTORY2", "N/A", "N/A"},
    {"DIRECTORY3", "DIRECTORY3", "N/A", "N/A"},
    {"DIRECTORY4", "DIRECTORY4", "N/A", "N/A"},
    {"DIRECTORY5", "DIRECTORY5", "N/A", "N/A"},
    {"DIRECTORY6", "DIRECTORY6", "N/A", "N/A"},
    {"PREFIX", "FILE/TABLE PREFIX", "N/A", "N/A"},
    {"TYPE", "STORAGE TYPE", "DATABASE", "FILE"},
    {"ACTIVITY", "ACTIVITY", "Not Started", "N/A"},
    {"ERROR", "ERROR MESSAGE", "ERROR", "NONE"},
    {"RESET CNTS", "RESET COUNTS", "RESET", "NORESET"},
    {"DATE LST W", "DATE OF LAST WRITE", "", ""},
    {"TIME LST W", "TIME OF LAST WRITE", "", ""},
    {"SEC LAST W", "TIME SINCE LAST WRITE", "SECS", ""},
    {"NO WRITES", "NO OF WRITE REQUESTS", "", ""},
    {"BYTES WRIT", "NO BYTES WRITTEN", "BYTES", ""},
    {"NO READ", "NO OF READ REQUESTS", "", ""},
    {"BYTES READ", "NO BYTES READ", "BYTES", ""},
    {"R-T LOG NO", "REAL-TIME LOG NUMBER", "", ""},
    {"R-T LOG DT", "REAL-TIME LOG DATE", "YYMMDD", ""},
    {"R-T LOG TM", "REAL-TIME LOG TIME", "HHMNSS", ""},
    {"LAG LOG NO", "LAG LOG NUMBER", "", ""},
    {"LAG LOG DT", "LAG LOG DATE", "YYMMDD", ""},
    {"LAG LOG TM", "LAG LOG TIME", "HHMNSS", ""},
    {"HIS LOG NO", "HISTORICAL LOG NUMBER", "", ""},
    {"HIS LOG DT", "HISTORICAL LOG DATE", "YYMMDD", ""},
    {"HIS LOG TM", "HISTORICAL LOG TIME", "HHMNSS", ""},
    {"EXPIRY DT", "EXPIRY DATE", "YYMNDD", ""},
    {"EXPIRY TM", "EXPIRY TIME", "HHMNSS", ""},
    {"SEC TO EXP", "TIME TO EXPIRY", "HRS", ""},
    {"NO INCOMPL", "NO OF INCOMPLETE PUBS", "", ""},
}};

void set_state_text(char (&field)[kStateTextSize], std::string_view text) {
    const std::size_t n = std::min(text.size(), kStateTextSize);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, kStateTextSize - n);
}

std::string_view state_text(const char (&field)[kStateTextSize]) {
    return {field, static_cast<std::size_t>(std::find(field, field + kStateTextSize, '\0') - field)};
}

}  // namespace log_stores::status

using log_stores::status::kChannelTexts;

void status_FillRecords(int logger_number, int count, qvr::ChannelRecord* records) {
    if (records == nullptr) return;
    for (int i = 0; i < kStatusChannelsPerLogger; ++i) records[i] = qvr::ChannelRecord{};
    const int rows = std::clamp(count, 0, kStatusChannelsPerLogger);
    for (int i = 0; i < rows; ++i) {
        const auto& row = kChannelTexts[static_cast<std::size_t>(i)];
        qvr::ChannelRecord& r = records[i];
        const bool digital = i < kStatusDigitalChannels;
        r.head.Type = digital ? qvr::ChannelKind::DO : qvr::ChannelKind::AO;
        r.head.Flags.set(qvr::AnalogFlag::Enable, true);  // word bit 0 in both layouts
        char tag[32];
        std::snprintf(tag, sizeof tag, "%04d_%.*s", logger_number, static_cast<int>(row.short_name.size()),
                      row.short_name.data());
        chanrec_SetTag(&r, tag);
        chanrec_SetDescription(&r, std::string(row.description).c_str());
        if (digital) {
            log_stores::status::set_state_text(r.digital.HighStateText, row.third);
            log_stores::status::set_state_text(r.digital.LowStateText, row.fourth);
        } else {
            chanrec_SetUnits(&r, std::string(row.third).c_str());
        }
    }
}

const char* status_ActivityText(int activity) {
    static constexpr const char* kTexts[] = {"Not Started",      "Finished Successfully", "Finished In Error",
                                             "Preparing to Log", "Waiting to Start",      "Logging"};
    if (activity < 0 || activity >= static_cast<int>(std::size(kTexts))) return "Unknown";
    return kTexts[activity];
}

int status_ChannelCount(const char* logger_type) {
    const std::string_view type =
        logger_type != nullptr ? std::string_view(logger_type, strnlen(logger_type, 5)) : std::string_view{};
    if (platform::equal_ignoring_case(type, "repub")) return 32;
    if (platform::equal_ignoring_case(type, "resub")) return 31;
    return 25;
}
