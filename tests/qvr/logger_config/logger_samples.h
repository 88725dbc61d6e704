#pragma once
// Sample loggers of each kind for the logger file tests: every field of the kind at a value
// other than its default, as the XML text and as the bytes the record must hold, built from
// the kinds' field tables (name, offset, size, type, sample text).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace logger_test {

// Field types as the tables name them.
enum class T {
    text,
    on,       // Boolean "On" in one byte, or in the first byte of four
    on32,     // Boolean "On" over four bytes
    off,      // Boolean "Off": zero
    number,   // unsigned, little-endian, of the field's size; enumerations by their number
    real,     // float
    time,     // "YYYY-MM-DDThh:mm" or "MM-DDThh:mm" (size 6)
    eol,
    sep,
    secret,   // password and server: stored in a form of their own, compared by round trip
};

struct Row {
    std::string name;
    std::size_t offset;
    std::size_t size;
    T type;
    std::string text;    // the XML text
    std::uint64_t value = 0;  // for enumerations: the number the text stands for
};

inline std::vector<std::uint8_t> le(std::uint64_t v, std::size_t n) {
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
    return out;
}

inline std::uint8_t part(const std::string& s) {
    return s.find('*') != std::string::npos ? 255 : static_cast<std::uint8_t>(std::stoi(s));
}

// The bytes a row's text stands for; none for the secret types.
inline std::optional<std::vector<std::uint8_t>> expected_bytes(const Row& r) {
    std::vector<std::uint8_t> out(r.size, 0);
    switch (r.type) {
        case T::text:
            std::memcpy(out.data(), r.text.data(), r.text.size());
            return out;
        case T::on:
        case T::on32:
            out[0] = 1;
            return out;
        case T::off:
            return out;
        case T::number:
            return le(r.value != 0 ? r.value : std::stoull(r.text), r.size);
        case T::real: {
            const float f = std::stof(r.text);
            std::uint32_t bits;
            std::memcpy(&bits, &f, 4);
            return le(bits, 4);
        }
        case T::time: {
            const bool year = r.text.size() == 16;
            const std::string t = year ? r.text : "0000-" + r.text;
            if (year) out[0] = t.substr(0, 4) == "****" ? 255 : static_cast<std::uint8_t>(std::stoi(t.substr(0, 4)) - 1900);
            out[1] = part(t.substr(5, 2));
            out[2] = part(t.substr(8, 2));
            out[3] = part(t.substr(11, 2));
            out[4] = part(t.substr(14, 2));
            return out;
        }
        case T::eol: {
            const std::string v = r.text == "LF" ? "\n" : r.text == "CR" ? "\r" : "\r\n";
            std::memcpy(out.data(), v.data(), v.size());
            return out;
        }
        case T::sep: {
            const std::string v = r.text == "TAB" ? "\t" : r.text == "SPACE" ? " " : ",";
            std::memcpy(out.data(), v.data(), v.size());
            return out;
        }
        case T::secret:
            return std::nullopt;
    }
    return std::nullopt;
}

inline std::string format(const char* f, int i) {
    char b[64];
    std::snprintf(b, sizeof b, f, i);
    return b;
}

inline void add_range(std::vector<Row>& rows, const std::string& name, std::size_t at, const std::string& prefix,
                      int from, int to) {
    rows.push_back({name + ".Prefix", at, 2, T::text, prefix});
    rows.push_back({name + ".From", at + 2, 2, T::number, std::to_string(from)});
    rows.push_back({name + ".To", at + 4, 2, T::number, std::to_string(to)});
}

inline void add_ref(std::vector<Row>& rows, const std::string& name, std::size_t at, const std::string& prefix,
                    int number) {
    rows.push_back({name + ".Prefix", at, 2, T::text, prefix});
    rows.push_back({name + ".Number", at + 2, 2, T::number, std::to_string(number)});
}

// Log channel i: Average on unless i is a multiple of 3, Lag on for even i, Recalc for
// multiples of 4.
inline void add_log_channels(std::vector<Row>& rows) {
    for (int i = 0; i < 64; ++i) {
        const std::size_t at = 22964 + 84 * static_cast<std::size_t>(i);
        const std::string n = format("LogChannels.%d", i);
        rows.push_back({n + ".Source", at, 33, T::text, format("SRC%d", i)});
        add_range(rows, n + ".Range", at + 34, i % 2 == 0 ? "A" : "B", i + 1, i + 100);
        rows.push_back({n + ".Tags.From", at + 40, 15, T::text, format("TAG%02dA", i)});
        rows.push_back({n + ".Tags.To", at + 55, 15, T::text, format("TAG%02dZ", i)});
        rows.push_back({n + ".Average", at + 72, 4, i % 3 != 0 ? T::on32 : T::off, i % 3 != 0 ? "On" : "Off", 0});
        rows.push_back({n + ".Lag", at + 76, 4, i % 2 == 0 ? T::on32 : T::off, i % 2 == 0 ? "On" : "Off", 0});
        rows.push_back({n + ".Recalc", at + 80, 4, i % 4 == 0 ? T::on32 : T::off, i % 4 == 0 ? "On" : "Off", 0});
    }
}

inline void add_event_channels(std::vector<Row>& rows) {
    for (int i = 0; i < 64; ++i) {
        const std::size_t at = 28340 + 36 * static_cast<std::size_t>(i);
        const std::string n = format("EventChannels.%d", i);
        add_range(rows, n + ".Range", at, "E", i + 1000, i + 2000);
        rows.push_back({n + ".Tags.From", at + 6, 15, T::text, format("EV%02dA", i)});
        rows.push_back({n + ".Tags.To", at + 21, 15, T::text, format("EV%02dZ", i)});
    }
}

inline std::vector<Row> stand_rows() {
    std::vector<Row> r{
        {"Name", 1, 25, T::text, "Boiler trend"},
        {"Autostart", 0, 1, T::on, "On"},
        {"Storage", 14556, 4, T::number, "DATABASE", 1},
        {"Type", 158, 1, T::number, "PERIOD-EVENT", 1},
        {"PreEventLogs", 160, 4, T::number, "11"},
        {"PeriodPreEventRate", 164, 4, T::number, "12"},
        {"EventLogs", 159, 1, T::number, "13"},
        {"EventRate", 168, 4, T::number, "14"},
        {"PostEventLogs", 172, 4, T::number, "15"},
        {"PostEventRate", 176, 4, T::number, "16"},
        {"StartMode", 27, 1, T::number, "CREATE", 1},
        {"StartTime", 50, 6, T::time, "2026-12-11T08:30"},
        {"StopTime", 56, 6, T::time, "****-06-**T23:**"},
        {"Delete", 26, 1, T::on, "On"},
        {"DeleteOlderThan", 32, 6, T::time, "00-07T00:00"},
        {"Cycle", 28, 1, T::number, "ON TIME", 1},
        {"CycleEvery", 44, 6, T::time, "00-01T00:00"},
        {"CycleMode", 15584, 4, T::number, "APPEND", 1},
        {"CycleLogFor", 38, 6, T::time, "00-00T12:00"},
    };
    add_log_channels(r);
    add_event_channels(r);
    add_ref(r, "RofCTriggerChannel", 14292, "R", 17);
    r.push_back({"RofCTriggerTag", 18728, 15, T::text, "TRIG.TAG"});
    r.push_back({"RateofChangeType", 14288, 4, T::number, "DATABASE", 1});
    r.push_back({"RateofChangeValue", 14328, 4, T::real, "2.5"});
    add_ref(r, "RateofChangeChannel", 14296, "C", 18);
    r.push_back({"RateofChangeTag", 18743, 15, T::text, "ROC.TAG"});
    add_ref(r, "RofCLaggedTriggerChannel", 14300, "L", 19);
    r.push_back({"RofCLaggedTriggerTag", 18758, 15, T::text, "LAG.TAG"});
    r.push_back({"RofCRewindType", 22628, 4, T::number, "DATABASE", 1});
    r.push_back({"RofCRewindValue", 22632, 4, T::real, "-0.75"});
    add_ref(r, "RofCRewindChannel", 22636, "W", 20);
    r.push_back({"RofCRewindTag", 22640, 15, T::text, "REW.TAG"});
    const std::vector<Row> rest{
        {"TextLogging", 288, 1, T::on, "On"},
        {"BufferSize", 280, 4, T::number, "2048"},
        {"WritetoDiskRate", 284, 4, T::number, "30"},
        {"LogByTag", 14028, 4, T::on, "On"},
        {"Directory", 289, 260, T::text, "D:\\Logs\\Boiler"},
        {"Database", 14560, 1024, T::text, "Server=127.0.0.2;Database=plant"},
        {"Replicate", 18724, 4, T::on, "On"},
        {"ReplicationTarget", 17700, 1024, T::text, "Server=127.0.0.3"},
        {"DropMerge", 22616, 4, T::on, "On"},
        {"DropMergeCylce", 22620, 4, T::number, "21"},
        {"DiskSpaceChecking", 5864, 4, T::on, "On"},
        {"DiskSpaceThreshold", 5868, 4, T::number, "500"},
        {"SaveConfigurationFile", 14332, 4, T::on, "On"},
        {"MarkFilesReadOnly", 14336, 4, T::on, "On"},
        {"DateAsTableSeqNo", 22624, 4, T::on, "On"},
        {"NamePrefix", 14356, 200, T::text, "BLR"},
        {"ForceDeviceScanRates", 14340, 4, T::on, "On"},
        {"WarnIfNoDeviceUpdates", 14344, 4, T::on, "On"},
        {"AutoEnableDevices", 14348, 4, T::on, "On"},
        {"DataExport", 1320, 4, T::on, "On"},
        {"ExportType", 1324, 4, T::number, "DATA EXPORT", 1},
        {"ExportCommand", 1328, 1100, T::text, "export.exe"},
        {"ExportParameters", 2428, 1100, T::text, "/all /q"},
        {"ExportHeaderType", 3528, 1, T::number, "USER DEFINED", 2},
        {"ExportTimeBaseType", 3529, 1, T::number, "ABSOLUTE", 2},
        {"ExportTimeBaseUnits", 3530, 1, T::number, "HOURS", 2},
        {"ExportDataLogsDateDisplay", 14352, 4, T::on, "On"},
        {"ExportFileOptions", 3532, 1, T::number, "MINUTES", 1},
        {"ExportFileName", 5582, 256, T::text, "boiler.TXT"},
        {"ExportHeaderText", 3533, 2049, T::text, "Boiler house export"},
        {"ExportSplitFiles", 5838, 1, T::on, "On"},
        {"ExportSkipFrequency", 5840, 4, T::number, "22"},
        {"ExportDateFormat", 5844, 4, T::number, "dd-MMM-yy", 11},
        {"ExportValueWidth", 5848, 4, T::number, "10"},
        {"ExportValuePrecision", 5852, 4, T::number, "3"},
        {"ExportEOLString", 5856, 3, T::eol, "LF"},
        {"ExportSepString", 5859, 3, T::sep, "TAB"},
        {"ExportDataLogs", 30644, 4, T::on, "On"},
        {"ExportStatistics", 30648, 4, T::off, "Off"},
        {"ExportTextLogs", 30652, 4, T::on, "On"},
        {"ExportTextNewLine", 30656, 4, T::off, "Off"},
        {"ExportColumnHeaders", 30660, 4, T::on, "On"},
        {"ExportColumnHeaderAsTags", 30664, 4, T::on, "On"},
        {"ExportLoggerInfo", 30668, 4, T::off, "Off"},
        {"ExportChannelHeaderTags", 30672, 4, T::on, "On"},
        {"ExportDateTimeColumns", 22655, 1, T::on, "On"},
        {"ExportDateSkipType", 22656, 1, T::number, "SKIP DUPLICATES", 3},
        {"ExportMsCol", 22657, 1, T::on, "On"},
        {"ExportTextHeaderWorksheet", 22658, 1, T::on, "On"},
        {"ExportUseExcelTemplate", 22659, 1, T::on, "On"},
        {"ExportTemplateName", 22660, 260, T::text, "template.xlt"},
        {"ExportHeaderDateFormat", 22920, 1, T::number, "yyyy-MM-dd", 8},
        {"ExportTextLogsDateDisplay", 22921, 1, T::on, "On"},
        {"ExportHeaderUnits", 22922, 1, T::on, "On"},
        {"UseEmail", 10468, 4, T::on, "On"},
        {"EmailAddresses", 10472, 128, T::text, "ops@plant.example"},
        {"EmailMAPIProfile", 10600, 40, T::text, "Ops"},
        {"EmailNTUser", 10680, 20, T::text, "ann"},
        {"EmailNTDomain", 10720, 20, T::text, "PLANT"},
        {"EmailSubject", 10740, 256, T::text, "Boiler log"},
        {"EmailText", 10996, 2049, T::text, "See attached."},
        {"EmailSMTPSender", 13045, 40, T::text, "Logger"},
        {"EmailSMTPSenderBox", 13085, 40, T::text, "logger@plant.example"},
        {"EmailSMTPHost", 13125, 40, T::text, "127.0.0.2"},
        {"EmailSMTPLogin", 13165, 40, T::text, "logger"},
        {"EmailSMTPPort", 13208, 4, T::number, "25"},
        {"EmailSMTPEncryption", 13212, 4, T::number, "1"},
        {"EmailUseMAPI", 13216, 4, T::on, "On"},
        {"EmailLogOnAs", 13220, 4, T::on, "On"},
        {"EmailUseSMTPLogin", 13224, 4, T::on, "On"},
        {"EmailSendFile", 13228, 4, T::on, "On"},
        {"EmailAttachFile", 13232, 4, T::on, "On"},
        {"EmailZipFile", 14024, 4, T::on, "On"},
        {"EmailDeleteFile", 13236, 4, T::on, "On"},
        {"EmailMAPIPassword", 30676, 514, T::text, "616263"},
        {"EmailNTPassword", 31190, 514, T::text, "0001ff"},
        {"EmailSMTPPassword", 31704, 514, T::text, "736d7470"},
    };
    r.insert(r.end(), rest.begin(), rest.end());
    return r;
}

inline std::vector<Row> repub_rows() {
    std::vector<Row> r{
        {"Name", 1, 25, T::text, "Republish 1"},
        {"SourceLogger", 84, 4, T::number, "3"},
        {"SourceStorage", 348, 4, T::number, "DATABASE", 1},
        {"SourceDirectory", 88, 260, T::text, "D:\\Src"},
        {"SourceLogin", 1576, 4, T::on, "On"},
        {"SourceLoginUserName", 1580, 257, T::text, "src_user"},
        {"SourceLoginPassword", 1837, 257, T::secret, "srcpw"},
        {"SourceDatabase", 352, 1024, T::text, "Server=127.0.0.2"},
        {"SourcePrefix", 1376, 200, T::text, "SRC"},
        {"DestinationConnectionType", 2100, 4, T::number, "Directory", 1},
        {"DestinationServer", 2104, 1284, T::secret, "http://ann:pw@127.0.0.2:8080/"},
        {"DestinationStorage", 3680, 4, T::number, "DATABASE", 1},
        {"DestinationDirectory", 3417, 260, T::text, "D:\\Dst"},
        {"DestinationLogin", 4908, 4, T::on32, "On"},
        {"DestinationLoginUserName", 4912, 257, T::text, "dst_user"},
        {"DestinationLoginPassword", 5169, 257, T::secret, "dstpw"},
        {"DestinationDatabase", 3684, 1024, T::text, "Server=127.0.0.3"},
        {"DestinationPrefix", 4708, 200, T::text, "DST"},
        {"DestinationMarkFilesReadOnly", 5428, 4, T::on, "On"},
        {"DestinationUpdatesToTextLogs", 76, 1, T::on, "On"},
        {"Autostart", 0, 1, T::on, "On"},
        {"UpdateRate", 72, 4, T::number, "60"},
        {"StartTime", 57, 6, T::time, "2027-01-02T03:04"},
        {"StopTime", 63, 6, T::time, "2027-02-03T04:05"},
        {"Cycle", 28, 1, T::number, "ON EVENT", 2},
        {"CycleEvery", 51, 6, T::time, "00-00T00:30"},
        {"CyclePublishFor", 45, 6, T::time, "00-00T01:00"},
        {"DeleteSource", 26, 1, T::on, "On"},
        {"DeleteSourceOlderThan", 33, 6, T::time, "01-00T00:00"},
        {"DeleteDestination", 27, 1, T::on, "On"},
        {"DeleteDestinationOlderThan", 39, 6, T::time, "00-14T00:00"},
        {"RenameAllocatedSubscription", 3388, 4, T::on32, "On"},
        {"RenameLoggerName", 3392, 25, T::text, "Renamed"},
        {"BufferSize", 80, 4, T::number, "4096"},
        {"NetworkConnection", 5432, 101, T::text, "\\\\127.0.0.2\\share"},
        {"ThrottleBandwidth", 5536, 4, T::on, "On"},
        {"BandwidthThrottleKbs", 5540, 4, T::number, "256"},
        {"ChannelFilter", 79, 1, T::on, "On"},
    };
    for (int i = 0; i < 64; ++i)
        add_range(r, format("FilterChannels.%d", i), 5544 + 6 * static_cast<std::size_t>(i), "F", i + 1, i + 5);
    for (int i = 0; i < 64; ++i)
        r.push_back({format("FilterChannelsName.%d", i), 5928 + 33 * static_cast<std::size_t>(i), 33, T::text,
                     format("Filter %d", i)});
    return r;
}

inline std::vector<Row> resub_rows() {
    return {
        {"Name", 1, 130, T::text, "Resubscriber 1"},
        {"Autostart", 0, 1, T::on, "On"},
        {"ExpiryTimeEnable", 131, 1, T::on, "On"},
        {"ExpiryTime", 132, 6, T::time, "2030-05-06T07:08"},
        {"OverrideDestination", 140, 4, T::on, "On"},
        {"DestinationDirectory", 144, 260, T::text, "D:\\Resub"},
        {"DatabaseDestinationUse", 404, 4, T::on, "On"},
        {"DatabaseDestination", 408, 1024, T::text, "Server=127.0.0.2"},
        {"GenerateAlarmOnChannelAlarm", 1432, 1, T::on, "On"},
        {"PriorityAlarmOnChannelAlarm", 1433, 1, T::number, "5"},
        {"CommonAlarmOnChannelAlarm", 1434, 1, T::on, "On"},
        {"DelayAlarmOnChannelAlarm", 1442, 2, T::number, "300"},
        {"GenerateAlarmOnChannelError", 1435, 1, T::on, "On"},
        {"PriorityAlarmOnChannelError", 1436, 1, T::number, "6"},
        {"CommonAlarmOnChannelError", 1437, 1, T::on, "On"},
        {"DelayAlarmOnChannelError", 1444, 2, T::number, "301"},
        {"GenerateAlarmOnCommTimeout", 1438, 1, T::on, "On"},
        {"PriorityAlarmOnCommTimeout", 1439, 1, T::number, "7"},
        {"CommonAlarmOnCommTimeout", 1440, 1, T::on, "On"},
        {"DelayAlarmOnCommTimeout", 1446, 2, T::number, "302"},
        {"DestinationCanUpdateText", 1452, 4, T::on, "On"},
        {"DestinationCanUpdateChannels", 1460, 4, T::on, "On"},
        {"DestinationCanAckAlarms", 1468, 4, T::on, "On"},
        {"ArchiveEnable", 1472, 1, T::on, "On"},
        {"ArchiveDepthType", 1473, 1, T::number, "2"},
        {"ArchiveDepth", 1474, 6, T::time, "2031-01-01T00:00"},
    };
}

// The XML file of the rows (texts replaced or elements left out as asked).
inline std::string xml_of(const std::string& kind, const std::vector<Row>& rows,
                          const std::vector<std::pair<std::string, std::string>>& replace = {},
                          const std::string& leave_out = "") {
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Loggers xmlns=\"http://www.brevantic.com/quorvane/" +
                    kind + "\"><Logger>\n";
    for (const Row& r : rows) {
        if (r.name == leave_out) continue;
        std::string text = r.text;
        for (const auto& [name, value] : replace)
            if (name == r.name) text = value;
        x += "<" + r.name + ">" + text + "</" + r.name + ">\n";
    }
    return x + "</Logger></Loggers>\n";
}

}  // namespace logger_test
