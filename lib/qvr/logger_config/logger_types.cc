#include "qvr/logger_config/logger_types.h"

#include <array>
#include <string_view>

#include "qvr/logger_config/logger_layout.h"
#include "qvr/records/server_type.h"

namespace {

using qvr::logger::FieldKind;
using qvr::logger::LoggerField;

// ---- Enumerations: the names and numbers stored files hold ----
constexpr StructsId kStorageIds[] = {{"FILE", 0, 0}, {"DATABASE", 1, 0}, {nullptr, 0, 0}};
constexpr StructsId kStandTypeIds[] = {
    {"PERIOD", 0, 0}, {"PERIOD-EVENT", 1, 0}, {"EVENT", 2, 0}, {"RATE OF CHANGE", 3, 0}, {nullptr, 0, 0}};
constexpr StructsId kStartModeIds[] = {{"APPEND", 0, 0}, {"CREATE", 1, 0}, {nullptr, 0, 0}};
constexpr StructsId kCycleModeIds[] = {{"CREATE", 0, 0}, {"APPEND", 1, 0}, {nullptr, 0, 0}};
constexpr StructsId kCycleIds[] = {{"NONE", 0, 0}, {"ON TIME", 1, 0}, {"ON EVENT", 2, 0}, {nullptr, 0, 0}};
constexpr StructsId kExportTypeIds[] = {{"RUN COMMAND", 0, 0}, {"DATA EXPORT", 1, 0}, {nullptr, 0, 0}};
constexpr StructsId kExportHeaderTypeIds[] = {
    {"NONE", 0, 0}, {"TEXT FILE", 1, 0}, {"USER DEFINED", 2, 0}, {nullptr, 0, 0}};
constexpr StructsId kTimeBaseTypeIds[] = {
    {"ELAPSED", 0, 0}, {"DIFFERENTIAL", 1, 0}, {"ABSOLUTE", 2, 0}, {nullptr, 0, 0}};
constexpr StructsId kTimeUnitIds[] = {{"SECONDS", 0, 0}, {"MINUTES", 1, 0}, {"HOURS", 2, 0}, {nullptr, 0, 0}};
constexpr StructsId kDateFormatIds[] = {
    {"SHORT", 0, 0},       {"LONG", 1, 0},        {"dd/MM/yyyy", 2, 0},  {"dd/MM/yy", 3, 0},
    {"MM/dd/yyyy", 4, 0},  {"MM/dd/yy", 5, 0},    {"yy/MM/dd", 6, 0},    {"yyyy/MM/dd", 7, 0},
    {"yyyy-MM-dd", 8, 0},  {"yy-MM-dd", 9, 0},    {"dd-MMM-yyyy", 10, 0}, {"dd-MMM-yy", 11, 0},
    {nullptr, 0, 0}};
constexpr StructsId kDateSkipTypeIds[] = {{"EXPORT ALL", 0, 0},
                                          {"SKIP EVERY", 1, 0},
                                          {"SKIP TIME FREQUENCY", 2, 0},
                                          {"SKIP DUPLICATES", 3, 0},
                                          {nullptr, 0, 0}};
constexpr StructsId kConnectionTypeIds[] = {{"WebService", 0, 0}, {"Directory", 1, 0}, {nullptr, 0, 0}};

constexpr StructsType kStorage4 = structs_id_type(4, kStorageIds);
constexpr StructsType kStandType1 = structs_id_type(1, kStandTypeIds);
constexpr StructsType kStartMode1 = structs_id_type(1, kStartModeIds);
constexpr StructsType kCycleMode4 = structs_id_type(4, kCycleModeIds);
constexpr StructsType kCycle1 = structs_id_type(1, kCycleIds);
constexpr StructsType kExportType4 = structs_id_type(4, kExportTypeIds);
constexpr StructsType kExportHeaderType1 = structs_id_type(1, kExportHeaderTypeIds);
constexpr StructsType kTimeBaseType1 = structs_id_type(1, kTimeBaseTypeIds);
constexpr StructsType kTimeUnits1 = structs_id_type(1, kTimeUnitIds);
constexpr StructsType kDateFormat4 = structs_id_type(4, kDateFormatIds);
constexpr StructsType kDateFormat1 = structs_id_type(1, kDateFormatIds);
constexpr StructsType kDateSkipType1 = structs_id_type(1, kDateSkipTypeIds);
constexpr StructsType kConnectionType4 = structs_id_type(4, kConnectionTypeIds);

struct NamedEnum {
    std::string_view field;
    const StructsType* type;
};
// RateofChangeType and RofCRewindType take the Storage names (0 a channel, 1 a value),
// ExportFileOptions those of ExportTimeBaseUnits.
constexpr NamedEnum kEnums[] = {
    {"Storage", &kStorage4},
    {"Type", &kStandType1},
    {"StartMode", &kStartMode1},
    {"Cycle", &kCycle1},
    {"CycleMode", &kCycleMode4},
    {"RateofChangeType", &kStorage4},
    {"RofCRewindType", &kStorage4},
    {"ExportType", &kExportType4},
    {"ExportHeaderType", &kExportHeaderType1},
    {"ExportTimeBaseType", &kTimeBaseType1},
    {"ExportTimeBaseUnits", &kTimeUnits1},
    {"ExportFileOptions", &kTimeUnits1},
    {"ExportDateFormat", &kDateFormat4},
    {"ExportDateSkipType", &kDateSkipType1},
    {"ExportHeaderDateFormat", &kDateFormat1},
    {"SourceStorage", &kStorage4},
    {"DestinationConnectionType", &kConnectionType4},
    {"DestinationStorage", &kStorage4},
};

// ---- Texts and Booleans ----
template <std::uint32_t N>
constexpr StructsType kText = structs_fixedstring_type(N);

constexpr const StructsType* text_type(std::size_t size) {
    switch (size) {
        case 2: return &kText<2>;
        case 15: return &kText<15>;
        case 20: return &kText<20>;
        case 25: return &kText<25>;
        case 33: return &kText<33>;
        case 40: return &kText<40>;
        case 101: return &kText<101>;
        case 128: return &kText<128>;
        case 130: return &kText<130>;
        case 200: return &kText<200>;
        case 256: return &kText<256>;
        case 257: return &kText<257>;
        case 260: return &kText<260>;
        case 514: return &kText<514>;
        case 1024: return &kText<1024>;
        case 1100: return &kText<1100>;
        case 2049: return &kText<2049>;
        default: tslib::detail::bad_description("no text type of this size");
    }
}

constexpr StructsType kOnOff1 = structs_bool_type(false, kStructsBoolOnOff);
constexpr StructsType kOnOff4 = structs_bool_type(true, kStructsBoolOnOff);

// ---- Shared structures ----
constexpr StructsField kChannelRangeFields[] = {
    structs_field("Prefix", kText<2>, 0),
    structs_field("From", structs_type_uint16, 2),
    structs_field("To", structs_type_uint16, 4),
    structs_field_end(),
};
constexpr StructsType kChannelRange = structs_struct_type(qvr::logger::kChannelRangeSize, kChannelRangeFields);

constexpr StructsField kChannelRefFields[] = {
    structs_field("Prefix", kText<2>, 0),
    structs_field("Number", structs_type_uint16, 2),
    structs_field_end(),
};
constexpr StructsType kChannelRef = structs_struct_type(qvr::logger::kChannelRefSize, kChannelRefFields);

constexpr StructsField kTagRangeFields[] = {
    structs_field("From", kText<15>, 0),
    structs_field("To", kText<15>, 15),
    structs_field_end(),
};
constexpr StructsType kTagRange = structs_struct_type(qvr::logger::kTagRangeSize, kTagRangeFields);

namespace lc = qvr::logger::log_channel;
constexpr StructsField kLogChannelFields[] = {
    structs_field("Source", kText<33>, lc::kSource),
    structs_field("Range", kChannelRange, lc::kRange),
    structs_field("Tags", kTagRange, lc::kTags),
    structs_field("Average", kOnOff4, lc::kAverage),
    structs_field("Lag", kOnOff4, lc::kLag),
    structs_field("Recalc", kOnOff4, lc::kRecalc),
    structs_field_end(),
};
constexpr StructsType kLogChannelEntry =
    structs_struct_type(qvr::logger::kLogChannelEntrySize, kLogChannelFields);

constexpr StructsField kEventChannelFields[] = {
    structs_field("Range", kChannelRange, 0),
    structs_field("Tags", kTagRange, 6),
    structs_field_end(),
};
constexpr StructsType kEventChannelEntry =
    structs_struct_type(qvr::logger::kEventChannelEntrySize, kEventChannelFields);

constexpr std::uint32_t kChannels = qvr::logger::kChannelCount;
constexpr StructsType kLogChannels = structs_fixedarray_type(kLogChannelEntry, "LogChannel", kChannels);
constexpr StructsType kEventChannels = structs_fixedarray_type(kEventChannelEntry, "EventChannel", kChannels);
constexpr StructsType kFilterChannels = structs_fixedarray_type(kChannelRange, "FilterChannel", kChannels);
constexpr StructsType kFilterNames = structs_fixedarray_type(kText<33>, "FilterChannelName", kChannels);

constexpr const StructsType* enum_type(const LoggerField& f) {
    for (const NamedEnum& e : kEnums)
        if (e.field == f.name) {
            if (e.type->size != f.size) tslib::detail::bad_description("enumeration of another size");
            return e.type;
        }
    tslib::detail::bad_description("enumeration without names");
}

constexpr const StructsType* type_of(const LoggerField& f) {
    switch (f.kind) {
        case FieldKind::text: return text_type(f.size);
        // "In the first byte": the other three bytes are not part of the value.
        case FieldKind::boolean1:
        case FieldKind::boolean4: return &kOnOff1;
        case FieldKind::boolean32: return &kOnOff4;
        case FieldKind::enum1:
        case FieldKind::enum4: return enum_type(f);
        case FieldKind::u8: return &structs_type_uint8;
        case FieldKind::u16: return &structs_type_uint16;
        case FieldKind::u32: return &structs_type_uint32;
        case FieldKind::f32: return &structs_type_float;
        case FieldKind::time_with_year: return &structs_type_time_with_year;
        case FieldKind::time_no_year: return &structs_type_time_no_year;
        case FieldKind::eol: return &structs_type_eol;
        case FieldKind::sep: return &structs_type_sep;
        case FieldKind::password: return &structs_type_password;
        case FieldKind::server: return &structs_type_server;
        case FieldKind::channel_ref: return &kChannelRef;
        case FieldKind::log_channels: return &kLogChannels;
        case FieldKind::event_channels: return &kEventChannels;
        case FieldKind::channel_ranges: return &kFilterChannels;
        case FieldKind::text_array: return &kFilterNames;
    }
    tslib::detail::bad_description("unknown field kind");
}

template <std::size_t N>
constexpr std::array<StructsField, N + 1> struct_fields(const std::array<LoggerField, N>& table) {
    std::array<StructsField, N + 1> out{};
    for (std::size_t i = 0; i < N; ++i) {
        const StructsType* type = type_of(table[i]);
        // A Boolean in the first byte of four is the one type narrower than its field.
        if (type->size != table[i].size && table[i].kind != FieldKind::boolean4)
            tslib::detail::bad_description("field type of another size");
        out[i] = structs_field(table[i].name.data(), *type, table[i].offset);
    }
    out[N] = structs_field_end();
    return out;
}

constexpr auto kStandStructFields = struct_fields(qvr::logger::kStandFields);
constexpr auto kRepubStructFields = struct_fields(qvr::logger::kRepubFields);
constexpr auto kResubStructFields = struct_fields(qvr::logger::kResubFields);

}  // namespace

constexpr StructsType StandLoggerConfig =
    structs_struct_type(qvr::logger::kStandDescriptionSize, kStandStructFields.data());
constexpr StructsType RepubLoggerConfig =
    structs_struct_type(qvr::logger::kRepubRecordSize, kRepubStructFields.data());
constexpr StructsType ResubLoggerConfig =
    structs_struct_type(qvr::logger::kResubRecordSize, kResubStructFields.data());

namespace qvr::logger {

const StructsType* logger_type(LoggerKind kind) {
    switch (kind) {
        case LoggerKind::stand: return &StandLoggerConfig;
        case LoggerKind::repub: return &RepubLoggerConfig;
        case LoggerKind::resub: return &ResubLoggerConfig;
        case LoggerKind::other: return nullptr;
    }
    return nullptr;
}

}  // namespace qvr::logger
