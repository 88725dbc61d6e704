#pragma once
// The three logger records as other programs read them: little-endian, fixed offsets. The
// field tables give every leaf of a record's typed description; the checks below hold them
// to the record sizes, so a mistyped offset does not build.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qvr::logger {

inline constexpr std::size_t kStandRecordSize = 32220;
inline constexpr std::size_t kRepubRecordSize = 8040;
inline constexpr std::size_t kResubRecordSize = 1480;
// The standard description's own size; its fields reach past it into the rest of the record.
inline constexpr std::size_t kStandDescriptionSize = 22964;

enum class FieldKind {
    text,            // bounded fixed string
    boolean1,        // "Off"/"On" in one byte
    boolean4,        // "Off"/"On" in the first byte of four
    boolean32,       // "Off"/"On" over all four bytes
    enum1,
    enum4,
    u8,
    u16,
    u32,
    f32,
    time_with_year,  // 6 bytes, with year and wildcards
    time_no_year,    // 6 bytes, a duration
    eol,
    sep,
    password,
    server,
    channel_ref,     // ChannelRef, 4 bytes
    log_channels,    // 64 LogChannelEntry
    event_channels,  // 64 EventChannelEntry
    channel_ranges,  // 64 ChannelRange
    text_array,      // 64 text[33]
};

struct LoggerField {
    std::string_view name;
    std::size_t offset;
    std::size_t size;
    FieldKind kind;
};

// Shared structures.
inline constexpr std::size_t kChannelRangeSize = 6;   // Prefix text[2], From u16, To u16
inline constexpr std::size_t kChannelRefSize = 4;     // Prefix text[2], Number u16
inline constexpr std::size_t kTagRangeSize = 30;      // From text[15], To text[15]
inline constexpr std::size_t kLogChannelEntrySize = 84;
inline constexpr std::size_t kEventChannelEntrySize = 36;
inline constexpr std::size_t kChannelCount = 64;
inline constexpr std::size_t kMirroredChannelCount = 16;

inline constexpr std::array<LoggerField, 110> kStandFields{{
    {"Name", 1, 25, FieldKind::text},
    {"Autostart", 0, 1, FieldKind::boolean1},
    {"Storage", 14556, 4, FieldKind::enum4},
    {"Type", 158, 1, FieldKind::enum1},
    {"PreEventLogs", 160, 4, FieldKind::u32},
    {"PeriodPreEventRate", 164, 4, FieldKind::u32},
    {"EventLogs", 159, 1, FieldKind::u8},
    {"EventRate", 168, 4, FieldKind::u32},
    {"PostEventLogs", 172, 4, FieldKind::u32},
    {"PostEventRate", 176, 4, FieldKind::u32},
    {"StartMode", 27, 1, FieldKind::enum1},
    {"StartTime", 50, 6, FieldKind::time_with_year},
    {"StopTime", 56, 6, FieldKind::time_with_year},
    {"Delete", 26, 1, FieldKind::boolean1},
    {"DeleteOlderThan", 32, 6, FieldKind::time_no_year},
    {"Cycle", 28, 1, FieldKind::enum1},
    {"CycleEvery", 44, 6, FieldKind::time_no_year},
    {"CycleMode", 15584, 4, FieldKind::enum4},
    {"CycleLogFor", 38, 6, FieldKind::time_no_year},
    {"LogChannels", 22964, 5376, FieldKind::log_channels},
    {"EventChannels", 28340, 2304, FieldKind::event_channels},
    {"RofCTriggerChannel", 14292, 4, FieldKind::channel_ref},
    {"RofCTriggerTag", 18728, 15, FieldKind::text},
    {"RateofChangeType", 14288, 4, FieldKind::enum4},
    {"RateofChangeValue", 14328, 4, FieldKind::f32},
    {"RateofChangeChannel", 14296, 4, FieldKind::channel_ref},
    {"RateofChangeTag", 18743, 15, FieldKind::text},
    {"RofCLaggedTriggerChannel", 14300, 4, FieldKind::channel_ref},
    {"RofCLaggedTriggerTag", 18758, 15, FieldKind::text},
    {"RofCRewindType", 22628, 4, FieldKind::enum4},
    {"RofCRewindValue", 22632, 4, FieldKind::f32},
    {"RofCRewindChannel", 22636, 4, FieldKind::channel_ref},
    {"RofCRewindTag", 22640, 15, FieldKind::text},
    {"TextLogging", 288, 1, FieldKind::boolean1},
    {"BufferSize", 280, 4, FieldKind::u32},
    {"WritetoDiskRate", 284, 4, FieldKind::u32},
    {"LogByTag", 14028, 4, FieldKind::boolean4},
    {"Directory", 289, 260, FieldKind::text},
    {"Database", 14560, 1024, FieldKind::text},
    {"Replicate", 18724, 4, FieldKind::boolean4},
    {"ReplicationTarget", 17700, 1024, FieldKind::text},
    {"DropMerge", 22616, 4, FieldKind::boolean4},
    {"DropMergeCylce", 22620, 4, FieldKind::u32},
    {"DiskSpaceChecking", 5864, 4, FieldKind::boolean4},
    {"DiskSpaceThreshold", 5868, 4, FieldKind::u32},
    {"SaveConfigurationFile", 14332, 4, FieldKind::boolean4},
    {"MarkFilesReadOnly", 14336, 4, FieldKind::boolean4},
    {"DateAsTableSeqNo", 22624, 4, FieldKind::boolean4},
    {"NamePrefix", 14356, 200, FieldKind::text},
    {"ForceDeviceScanRates", 14340, 4, FieldKind::boolean4},
    {"WarnIfNoDeviceUpdates", 14344, 4, FieldKind::boolean4},
    {"AutoEnableDevices", 14348, 4, FieldKind::boolean4},
    {"DataExport", 1320, 4, FieldKind::boolean4},
    {"ExportType", 1324, 4, FieldKind::enum4},
    {"ExportCommand", 1328, 1100, FieldKind::text},
    {"ExportParameters", 2428, 1100, FieldKind::text},
    {"ExportHeaderType", 3528, 1, FieldKind::enum1},
    {"ExportTimeBaseType", 3529, 1, FieldKind::enum1},
    {"ExportTimeBaseUnits", 3530, 1, FieldKind::enum1},
    {"ExportDataLogsDateDisplay", 14352, 4, FieldKind::boolean4},
    {"ExportFileOptions", 3532, 1, FieldKind::enum1},
    {"ExportFileName", 5582, 256, FieldKind::text},
    {"ExportHeaderText", 3533, 2049, FieldKind::text},
    {"ExportSplitFiles", 5838, 1, FieldKind::boolean1},
    {"ExportSkipFrequency", 5840, 4, FieldKind::u32},
    {"ExportDateFormat", 5844, 4, FieldKind::enum4},
    {"ExportValueWidth", 5848, 4, FieldKind::u32},
    {"ExportValuePrecision", 5852, 4, FieldKind::u32},
    {"ExportEOLString", 5856, 3, FieldKind::eol},
    {"ExportSepString", 5859, 3, FieldKind::sep},
    {"ExportDataLogs", 30644, 4, FieldKind::boolean4},
    {"ExportStatistics", 30648, 4, FieldKind::boolean4},
    {"ExportTextLogs", 30652, 4, FieldKind::boolean4},
    {"ExportTextNewLine", 30656, 4, FieldKind::boolean4},
    {"ExportColumnHeaders", 30660, 4, FieldKind::boolean4},
    {"ExportColumnHeaderAsTags", 30664, 4, FieldKind::boolean4},
    {"ExportLoggerInfo", 30668, 4, FieldKind::boolean4},
    {"ExportChannelHeaderTags", 30672, 4, FieldKind::boolean4},
    {"ExportDateTimeColumns", 22655, 1, FieldKind::boolean1},
    {"ExportDateSkipType", 22656, 1, FieldKind::enum1},
    {"ExportMsCol", 22657, 1, FieldKind::boolean1},
    {"ExportTextHeaderWorksheet", 22658, 1, FieldKind::boolean1},
    {"ExportUseExcelTemplate", 22659, 1, FieldKind::boolean1},
    {"ExportTemplateName", 22660, 260, FieldKind::text},
    {"ExportHeaderDateFormat", 22920, 1, FieldKind::enum1},
    {"ExportTextLogsDateDisplay", 22921, 1, FieldKind::boolean1},
    {"ExportHeaderUnits", 22922, 1, FieldKind::boolean1},
    {"UseEmail", 10468, 4, FieldKind::boolean4},
    {"EmailAddresses", 10472, 128, FieldKind::text},
    {"EmailMAPIProfile", 10600, 40, FieldKind::text},
    {"EmailNTUser", 10680, 20, FieldKind::text},
    {"EmailNTDomain", 10720, 20, FieldKind::text},
    {"EmailSubject", 10740, 256, FieldKind::text},
    {"EmailText", 10996, 2049, FieldKind::text},
    {"EmailSMTPSender", 13045, 40, FieldKind::text},
    {"EmailSMTPSenderBox", 13085, 40, FieldKind::text},
    {"EmailSMTPHost", 13125, 40, FieldKind::text},
    {"EmailSMTPLogin", 13165, 40, FieldKind::text},
    {"EmailSMTPPort", 13208, 4, FieldKind::u32},
    {"EmailSMTPEncryption", 13212, 4, FieldKind::u32},
    {"EmailUseMAPI", 13216, 4, FieldKind::boolean4},
    {"EmailLogOnAs", 13220, 4, FieldKind::boolean4},
    {"EmailUseSMTPLogin", 13224, 4, FieldKind::boolean4},
    {"EmailSendFile", 13228, 4, FieldKind::boolean4},
    {"EmailAttachFile", 13232, 4, FieldKind::boolean4},
    {"EmailZipFile", 14024, 4, FieldKind::boolean4},
    {"EmailDeleteFile", 13236, 4, FieldKind::boolean4},
    {"EmailMAPIPassword", 30676, 514, FieldKind::text},
    {"EmailNTPassword", 31190, 514, FieldKind::text},
    {"EmailSMTPPassword", 31704, 514, FieldKind::text},
}};

inline constexpr std::array<LoggerField, 40> kRepubFields{{
    {"Name", 1, 25, FieldKind::text},
    {"SourceLogger", 84, 4, FieldKind::u32},
    {"SourceStorage", 348, 4, FieldKind::enum4},
    {"SourceDirectory", 88, 260, FieldKind::text},
    {"SourceLogin", 1576, 4, FieldKind::boolean4},
    {"SourceLoginUserName", 1580, 257, FieldKind::text},
    {"SourceLoginPassword", 1837, 257, FieldKind::password},
    {"SourceDatabase", 352, 1024, FieldKind::text},
    {"SourcePrefix", 1376, 200, FieldKind::text},
    {"DestinationConnectionType", 2100, 4, FieldKind::enum4},
    {"DestinationServer", 2104, 1284, FieldKind::server},
    {"DestinationStorage", 3680, 4, FieldKind::enum4},
    {"DestinationDirectory", 3417, 260, FieldKind::text},
    {"DestinationLogin", 4908, 4, FieldKind::boolean32},
    {"DestinationLoginUserName", 4912, 257, FieldKind::text},
    {"DestinationLoginPassword", 5169, 257, FieldKind::password},
    {"DestinationDatabase", 3684, 1024, FieldKind::text},
    {"DestinationPrefix", 4708, 200, FieldKind::text},
    {"DestinationMarkFilesReadOnly", 5428, 4, FieldKind::boolean4},
    {"DestinationUpdatesToTextLogs", 76, 1, FieldKind::boolean1},
    {"Autostart", 0, 1, FieldKind::boolean1},
    {"UpdateRate", 72, 4, FieldKind::u32},
    {"StartTime", 57, 6, FieldKind::time_with_year},
    {"StopTime", 63, 6, FieldKind::time_with_year},
    {"Cycle", 28, 1, FieldKind::enum1},
    {"CycleEvery", 51, 6, FieldKind::time_no_year},
    {"CyclePublishFor", 45, 6, FieldKind::time_no_year},
    {"DeleteSource", 26, 1, FieldKind::boolean1},
    {"DeleteSourceOlderThan", 33, 6, FieldKind::time_no_year},
    {"DeleteDestination", 27, 1, FieldKind::boolean1},
    {"DeleteDestinationOlderThan", 39, 6, FieldKind::time_no_year},
    {"RenameAllocatedSubscription", 3388, 4, FieldKind::boolean32},
    {"RenameLoggerName", 3392, 25, FieldKind::text},
    {"BufferSize", 80, 4, FieldKind::u32},
    {"NetworkConnection", 5432, 101, FieldKind::text},
    {"ThrottleBandwidth", 5536, 4, FieldKind::boolean4},
    {"BandwidthThrottleKbs", 5540, 4, FieldKind::u32},
    {"ChannelFilter", 79, 1, FieldKind::boolean1},
    {"FilterChannels", 5544, 384, FieldKind::channel_ranges},
    {"FilterChannelsName", 5928, 2112, FieldKind::text_array},
}};

inline constexpr std::array<LoggerField, 26> kResubFields{{
    {"Name", 1, 130, FieldKind::text},
    {"Autostart", 0, 1, FieldKind::boolean1},
    {"ExpiryTimeEnable", 131, 1, FieldKind::boolean1},
    {"ExpiryTime", 132, 6, FieldKind::time_with_year},
    {"OverrideDestination", 140, 4, FieldKind::boolean4},
    {"DestinationDirectory", 144, 260, FieldKind::text},
    {"DatabaseDestinationUse", 404, 4, FieldKind::boolean4},
    {"DatabaseDestination", 408, 1024, FieldKind::text},
    {"GenerateAlarmOnChannelAlarm", 1432, 1, FieldKind::boolean1},
    {"PriorityAlarmOnChannelAlarm", 1433, 1, FieldKind::u8},
    {"CommonAlarmOnChannelAlarm", 1434, 1, FieldKind::boolean1},
    {"DelayAlarmOnChannelAlarm", 1442, 2, FieldKind::u16},
    {"GenerateAlarmOnChannelError", 1435, 1, FieldKind::boolean1},
    {"PriorityAlarmOnChannelError", 1436, 1, FieldKind::u8},
    {"CommonAlarmOnChannelError", 1437, 1, FieldKind::boolean1},
    {"DelayAlarmOnChannelError", 1444, 2, FieldKind::u16},
    {"GenerateAlarmOnCommTimeout", 1438, 1, FieldKind::boolean1},
    {"PriorityAlarmOnCommTimeout", 1439, 1, FieldKind::u8},
    {"CommonAlarmOnCommTimeout", 1440, 1, FieldKind::boolean1},
    {"DelayAlarmOnCommTimeout", 1446, 2, FieldKind::u16},
    {"DestinationCanUpdateText", 1452, 4, FieldKind::boolean4},
    {"DestinationCanUpdateChannels", 1460, 4, FieldKind::boolean4},
    {"DestinationCanAckAlarms", 1468, 4, FieldKind::boolean4},
    {"ArchiveEnable", 1472, 1, FieldKind::boolean1},
    {"ArchiveDepthType", 1473, 1, FieldKind::u8},
    {"ArchiveDepth", 1474, 6, FieldKind::time_with_year},
}};

// Bytes per value of each fixed-size kind; 0 where the table's size is the bound.
constexpr std::size_t fixed_size(FieldKind kind) {
    switch (kind) {
        case FieldKind::boolean1:
        case FieldKind::enum1:
        case FieldKind::u8: return 1;
        case FieldKind::u16: return 2;
        case FieldKind::boolean4:
        case FieldKind::boolean32:
        case FieldKind::enum4:
        case FieldKind::u32:
        case FieldKind::f32:
        case FieldKind::channel_ref: return 4;
        case FieldKind::time_with_year:
        case FieldKind::time_no_year: return 6;
        case FieldKind::eol:
        case FieldKind::sep: return 3;
        case FieldKind::password: return 257;
        case FieldKind::server: return 1284;
        case FieldKind::log_channels: return kChannelCount * kLogChannelEntrySize;
        case FieldKind::event_channels: return kChannelCount * kEventChannelEntrySize;
        case FieldKind::channel_ranges: return kChannelCount * kChannelRangeSize;
        case FieldKind::text_array: return kChannelCount * 33;
        case FieldKind::text: return 0;
    }
    return 0;
}

// Every field lies inside the record, has its kind's size, and no two fields share a byte.
template <std::size_t N>
constexpr bool fields_fit(const std::array<LoggerField, N>& fields, std::size_t record_size) {
    std::array<LoggerField, N> sorted = fields;
    std::sort(sorted.begin(), sorted.end(),
              [](const LoggerField& a, const LoggerField& b) { return a.offset < b.offset; });
    for (std::size_t i = 0; i < N; ++i) {
        const LoggerField& f = sorted[i];
        if (f.size == 0 || f.offset + f.size > record_size) return false;
        if (fixed_size(f.kind) != 0 && fixed_size(f.kind) != f.size) return false;
        if (i + 1 < N && f.offset + f.size > sorted[i + 1].offset) return false;
    }
    return true;
}

template <std::size_t N>
constexpr bool names_unique(const std::array<LoggerField, N>& fields) {
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t j = i + 1; j < N; ++j)
            if (fields[i].name == fields[j].name) return false;
    return true;
}

template <std::size_t N>
constexpr const LoggerField* find_field(const std::array<LoggerField, N>& fields, std::string_view name) {
    for (const LoggerField& f : fields)
        if (f.name == name) return &f;
    return nullptr;
}

// No field of the table uses a byte of [offset, offset + size).
template <std::size_t N>
constexpr bool bytes_free(const std::array<LoggerField, N>& fields, std::size_t offset, std::size_t size) {
    for (const LoggerField& f : fields)
        if (offset < f.offset + f.size && f.offset < offset + size) return false;
    return true;
}

static_assert(fields_fit(kStandFields, kStandRecordSize));
static_assert(fields_fit(kRepubFields, kRepubRecordSize));
static_assert(fields_fit(kResubFields, kResubRecordSize));
static_assert(names_unique(kStandFields) && names_unique(kRepubFields) && names_unique(kResubFields));
// The standard record ends exactly with the last e-mail password.
static_assert(find_field(kStandFields, "EmailSMTPPassword")->offset + 514 == kStandRecordSize - 2);
static_assert(find_field(kStandFields, "LogChannels")->offset == kStandDescriptionSize);

// Offsets inside the shared structures.
namespace log_channel {
inline constexpr std::size_t kSource = 0;   // text[33]
inline constexpr std::size_t kRange = 34;   // ChannelRange
inline constexpr std::size_t kTags = 40;    // tag range
inline constexpr std::size_t kAverage = 72;
inline constexpr std::size_t kLag = 76;
inline constexpr std::size_t kRecalc = 80;
static_assert(kRange >= kSource + 33 && kTags == kRange + kChannelRangeSize);
static_assert(kAverage >= kTags + kTagRangeSize && kRecalc + 4 == kLogChannelEntrySize);
}  // namespace log_channel

// The standard record's second layout: the older readers' copies of the typed fields.
namespace stand_mirror {
inline constexpr std::size_t kCycleCodeDeleteOlderThan = 29;
inline constexpr std::size_t kCycleCodeCycleLogFor = 30;
inline constexpr std::size_t kCycleCodeCycleEvery = 31;
inline constexpr std::size_t kLogRanges16 = 62;       // 16 x 6
inline constexpr std::size_t kAverageBits16 = 180;    // 2 bytes, mask 0x80 >> (j % 8)
inline constexpr std::size_t kEventRanges16 = 182;    // 16 x 6
inline constexpr std::size_t kLogTags16 = 549;        // 16 x 24, first 12 tag bytes
inline constexpr std::size_t kEventTags16 = 933;      // 16 x 24
inline constexpr std::size_t kTagSlot16 = 24;
inline constexpr std::size_t kTagBytes16 = 12;
inline constexpr std::size_t kExportFileKind = 3531;
inline constexpr std::size_t kExportFlags = 5863;
inline constexpr std::size_t kChannelsMarker = 5872;
inline constexpr std::size_t kRecalc = 5873;          // 64 x u8
inline constexpr std::size_t kAverage = 6372;         // 64 x i32
inline constexpr std::size_t kLogRanges = 6628;       // 64 x 6
inline constexpr std::size_t kEventRanges = 7012;     // 64 x 6
inline constexpr std::size_t kPasswordsMarker = 13240;
inline constexpr std::array<std::size_t, 3> kPasswordCounts{13244, 13504, 13764};
inline constexpr std::array<std::size_t, 3> kPasswordBytes{13248, 13508, 13768};
inline constexpr std::size_t kPasswordArea = 256;
inline constexpr std::size_t kLag = 14032;            // 64 x i32
inline constexpr std::size_t kSources = 15588;        // 64 x text[33]
inline constexpr std::size_t kLogTags = 18773;        // 64 x 30
inline constexpr std::size_t kEventTags = 20693;      // 64 x 30

static_assert(kAverageBits16 == kLogRanges16 + kMirroredChannelCount * kChannelRangeSize + 22);
static_assert(kLogRanges16 + kMirroredChannelCount * kChannelRangeSize <= 158);  // Type
static_assert(kEventRanges16 + kMirroredChannelCount * kChannelRangeSize <= 280);  // BufferSize
static_assert(kLogTags16 + kMirroredChannelCount * kTagSlot16 == kEventTags16);
static_assert(kEventTags16 + kMirroredChannelCount * kTagSlot16 <= 1320);  // DataExport
static_assert(kRecalc + kChannelCount <= kAverage && kAverage + 4 * kChannelCount == kLogRanges);
static_assert(kLogRanges + kChannelRangeSize * kChannelCount == kEventRanges);
static_assert(kEventRanges + kChannelRangeSize * kChannelCount <= 10468);  // UseEmail
static_assert(kPasswordCounts[0] + 4 == kPasswordBytes[0] && kPasswordBytes[0] + kPasswordArea == kPasswordCounts[1]);
static_assert(kPasswordCounts[1] + 4 == kPasswordBytes[1] && kPasswordBytes[1] + kPasswordArea == kPasswordCounts[2]);
static_assert(kPasswordBytes[2] + kPasswordArea <= 14024);  // EmailZipFile
static_assert(kLag + 4 * kChannelCount <= 14288);            // RateofChangeType
static_assert(kSources + 33 * kChannelCount <= 17700);       // ReplicationTarget
static_assert(kLogTags + kTagRangeSize * kChannelCount == kEventTags);
static_assert(kEventTags + kTagRangeSize * kChannelCount <= 22616);  // DropMerge
// None of the second layout's bytes belongs to a typed field.
static_assert(bytes_free(kStandFields, kCycleCodeDeleteOlderThan, 3));
static_assert(bytes_free(kStandFields, kLogRanges16, kMirroredChannelCount * kChannelRangeSize));
static_assert(bytes_free(kStandFields, kAverageBits16, 2));
static_assert(bytes_free(kStandFields, kEventRanges16, kMirroredChannelCount * kChannelRangeSize));
static_assert(bytes_free(kStandFields, kLogTags16, 2 * kMirroredChannelCount * kTagSlot16));
static_assert(bytes_free(kStandFields, kExportFileKind, 1));
static_assert(bytes_free(kStandFields, kExportFlags, 1));
static_assert(bytes_free(kStandFields, kChannelsMarker, 1 + kChannelCount));
static_assert(bytes_free(kStandFields, kAverage, kChannelCount * (4 + 2 * kChannelRangeSize)));
static_assert(bytes_free(kStandFields, kPasswordsMarker, 1));
static_assert(bytes_free(kStandFields, kPasswordCounts[0], 3 * (4 + kPasswordArea)));
static_assert(bytes_free(kStandFields, kLag, 4 * kChannelCount));
static_assert(bytes_free(kStandFields, kSources, 33 * kChannelCount));
static_assert(bytes_free(kStandFields, kLogTags, 2 * kTagRangeSize * kChannelCount));
}  // namespace stand_mirror

namespace repub_mirror {
// Cycle codes of DeleteSourceOlderThan, DeleteDestinationOlderThan, CyclePublishFor, CycleEvery.
inline constexpr std::array<std::size_t, 4> kCycleCodes{29, 30, 31, 32};
static_assert(bytes_free(kRepubFields, kCycleCodes[0], kCycleCodes.size()));
}  // namespace repub_mirror

}  // namespace qvr::logger
