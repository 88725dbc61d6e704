// The elements a logger read from XML must have: the settings that the record's other
// settings make meaningful.
#include <cstdio>
#include <span>
#include <string>

#include "qvr/logger_config/logger_binary.h"
#include "qvr/logger_config/logger_bytes.h"
#include "qvr/logger_config/logger_config.h"
#include "qvr/logger_config/logger_layout.h"
#include "qvr/logger_config/logger_types.h"
#include "qvr/xml/xml.h"

namespace {

using namespace qvr::logger;

// The values of one record that the rules look at, by field name.
template <std::size_t N>
class Values {
  public:
    Values(const std::array<LoggerField, N>& fields, const void* record, std::size_t size)
        : fields_(fields), record_(static_cast<const std::uint8_t*>(record), size) {}
    // A Boolean "in the first byte", a one-byte value, or any byte of a wider one.
    bool on(std::string_view name) const {
        const LoggerField* f = find_field(fields_, name);
        if (f->kind != FieldKind::boolean32) return record_[f->offset] != 0;
        return get_u32(record_, f->offset) != 0;
    }
    std::uint32_t value(std::string_view name) const {
        const LoggerField* f = find_field(fields_, name);
        return f->size == 1 ? record_[f->offset] : get_u32(record_, f->offset);
    }

  private:
    const std::array<LoggerField, N>& fields_;
    std::span<const std::uint8_t> record_;
};

class Required {
  public:
    explicit Required(const qvr::FoundFieldList* found) : found_(found) {}
    // False once one is missing; the later ones are not looked at.
    bool operator()(std::initializer_list<std::string_view> names) {
        for (std::string_view name : names) {
            if (!good_) return false;
            good_ = cfg_CheckLoggerElement(found_, std::string(name).c_str()) == 0;
        }
        return good_;
    }
    bool indexed(const char* format, int count, std::initializer_list<const char*> suffixes) {
        char name[96];
        for (int i = 0; i < count && good_; ++i) {
            for (const char* suffix : suffixes) {
                std::snprintf(name, sizeof name, format, i, suffix);
                if (!(*this)({name})) return false;
            }
        }
        return good_;
    }
    bool good() const { return good_; }

  private:
    const qvr::FoundFieldList* found_;
    bool good_ = true;
};

constexpr int kChannels = static_cast<int>(kChannelCount);

bool stand_export_and_email(Required& need, const Values<kStandFields.size()>& v) {
    if (!v.on("DataExport")) return true;
    if (!need({"ExportType"})) return false;
    const auto export_type = static_cast<ExportType>(v.value("ExportType"));
    if (export_type == ExportType::run_command) return need({"ExportCommand", "ExportParameters"});
    if (export_type != ExportType::data_export) return true;
    if (!need({"ExportHeaderType", "ExportTimeBaseType", "ExportTimeBaseUnits", "ExportFileOptions", "ExportFileName",
               "ExportHeaderText", "ExportSplitFiles", "ExportSkipFrequency", "ExportDateFormat", "ExportValueWidth",
               "ExportValuePrecision", "ExportEOLString", "ExportSepString", "ExportDataLogs", "ExportStatistics",
               "ExportTextLogs", "ExportTextNewLine", "ExportColumnHeaders", "ExportColumnHeaderAsTags",
               "ExportLoggerInfo", "ExportChannelHeaderTags", "ExportDateTimeColumns", "ExportDateSkipType",
               "ExportMsCol", "ExportTextHeaderWorksheet", "ExportUseExcelTemplate", "ExportTemplateName",
               "ExportHeaderDateFormat", "ExportTextLogsDateDisplay", "ExportHeaderUnits", "UseEmail"}))
        return false;
    if (!v.on("UseEmail")) return true;
    if (!need({"EmailUseMAPI"})) return false;
    if (v.on("EmailUseMAPI")) {
        if (!need({"EmailMAPIProfile", "EmailLogOnAs"})) return false;
        if (!v.on("EmailLogOnAs") ? !need({"EmailMAPIPassword"})
                                  : !need({"EmailNTUser", "EmailNTDomain", "EmailNTPassword"}))
            return false;
    } else {
        if (!need({"EmailSMTPSender", "EmailSMTPSenderBox", "EmailSMTPHost", "EmailSMTPPort", "EmailSMTPEncryption",
                   "EmailUseSMTPLogin"}))
            return false;
        if (v.on("EmailUseSMTPLogin") && !need({"EmailSMTPLogin", "EmailSMTPPassword"})) return false;
    }
    return need({"EmailSubject", "EmailText", "EmailSendFile", "EmailAttachFile", "EmailDeleteFile"});
}

bool stand_rate_of_change(Required& need, const Values<kStandFields.size()>& v) {
    if (!need({"RofCTriggerChannel.Prefix", "RofCTriggerChannel.Number", "RofCTriggerTag", "RateofChangeType"}))
        return false;
    const auto change = static_cast<Storage>(v.value("RateofChangeType"));
    if (change == Storage::file &&
        !need({"RateofChangeChannel.Prefix", "RateofChangeChannel.Number", "RateofChangeTag"}))
        return false;
    if (change == Storage::database && !need({"RateofChangeValue"})) return false;
    if (!need({"RofCLaggedTriggerChannel.Prefix", "RofCLaggedTriggerChannel.Number", "RofCLaggedTriggerTag",
               "RofCRewindType"}))
        return false;
    const auto rewind = static_cast<Storage>(v.value("RofCRewindType"));
    if (rewind == Storage::file && !need({"RofCRewindChannel.Prefix", "RofCRewindChannel.Number", "RofCRewindTag"}))
        return false;
    return rewind != Storage::database || need({"RofCRewindValue"});
}

bool stand(Required& need, const Values<kStandFields.size()>& v) {
    if (!need({"Name", "Autostart", "Storage", "Type"})) return false;
    const auto type = static_cast<StandType>(v.value("Type"));
    const bool events = type == StandType::period_event || type == StandType::event;
    if (type == StandType::period && !need({"PeriodPreEventRate"})) return false;
    if (type == StandType::period_event && !need({"PeriodPreEventRate", "EventLogs"})) return false;
    if (type == StandType::event && !need({"PreEventLogs", "PostEventLogs"})) return false;
    if (events && v.value("EventLogs") != 0 && !need({"EventRate"})) return false;
    if (!need({"StartMode", "StartTime", "StopTime", "Delete"})) return false;
    if (v.on("Delete") && !need({"DeleteOlderThan"})) return false;
    if (!need({"Cycle"})) return false;
    if (static_cast<CycleKind>(v.value("Cycle")) != CycleKind::none &&
        !need({"CycleEvery", "CycleMode", "CycleLogFor"}))
        return false;
    if (!need.indexed("LogChannels.%d.%s", kChannels,
                      {"Range.Prefix", "Range.From", "Range.To", "Tags.From", "Tags.To", "Average", "Lag"}))
        return false;
    if (events &&
        !need.indexed("EventChannels.%d.%s", kChannels, {"Range.Prefix", "Range.From", "Range.To", "Tags.From", "Tags.To"}))
        return false;
    if (type == StandType::rate_of_change && !stand_rate_of_change(need, v)) return false;
    if (!need({"TextLogging", "BufferSize", "WritetoDiskRate", "LogByTag", "Directory"})) return false;
    if (static_cast<Storage>(v.value("Storage")) == Storage::database) {
        if (!need({"Database", "Replicate"})) return false;
        if (v.on("Replicate")) {
            if (!need({"ReplicationTarget", "DropMerge"})) return false;
            if (v.on("DropMerge") && !need({"DropMergeCylce"})) return false;
        }
    }
    if (!need({"DiskSpaceChecking"})) return false;
    if (v.on("DiskSpaceChecking") && !need({"DiskSpaceThreshold"})) return false;
    if (!need({"SaveConfigurationFile", "MarkFilesReadOnly", "DateAsTableSeqNo", "NamePrefix", "ForceDeviceScanRates",
               "WarnIfNoDeviceUpdates", "AutoEnableDevices", "DataExport"}))
        return false;
    return stand_export_and_email(need, v);
}

bool repub(Required& need, const Values<kRepubFields.size()>& v) {
    if (!need({"Name", "SourceLogger", "SourceStorage"})) return false;
    const auto source = static_cast<Storage>(v.value("SourceStorage"));
    if (source == Storage::file) {
        if (!need({"SourceDirectory", "SourceLogin"})) return false;
        if (v.on("SourceLogin") && !need({"SourceLoginUserName", "SourceLoginPassword"})) return false;
    } else if (source == Storage::database && !need({"SourceDatabase"})) {
        return false;
    }
    if (!need({"SourcePrefix", "DestinationConnectionType", "DestinationServer", "DestinationStorage"})) return false;
    const auto destination = static_cast<Storage>(v.value("DestinationStorage"));
    if (destination == Storage::file) {
        if (!need({"DestinationDirectory", "DestinationLogin", "DestinationMarkFilesReadOnly"})) return false;
        if (v.on("DestinationLogin") && !need({"DestinationLoginUserName", "DestinationLoginPassword"})) return false;
    } else if (destination == Storage::database && !need({"DestinationDatabase"})) {
        return false;
    }
    if (!need({"DestinationPrefix", "DestinationUpdatesToTextLogs", "Autostart", "UpdateRate", "StartTime", "StopTime",
               "Cycle"}))
        return false;
    if (static_cast<CycleKind>(v.value("Cycle")) != CycleKind::none && !need({"CycleEvery", "CyclePublishFor"}))
        return false;
    if (!need({"DeleteSource"}) || (v.on("DeleteSource") && !need({"DeleteSourceOlderThan"}))) return false;
    if (!need({"DeleteDestination"}) || (v.on("DeleteDestination") && !need({"DeleteDestinationOlderThan"})))
        return false;
    if (!need({"RenameAllocatedSubscription"}) ||
        (v.on("RenameAllocatedSubscription") && !need({"RenameLoggerName"})))
        return false;
    if (!need({"BufferSize", "NetworkConnection", "ThrottleBandwidth"})) return false;
    if (v.on("ThrottleBandwidth") && !need({"BandwidthThrottleKbs"})) return false;
    if (!need({"ChannelFilter"})) return false;
    if (!v.on("ChannelFilter")) return true;
    char name[48];
    for (int i = 0; i < kChannels; ++i) {
        for (const char* part : {"Prefix", "From", "To"}) {
            std::snprintf(name, sizeof name, "FilterChannels.%d.%s", i, part);
            if (!need({name})) return false;
        }
        std::snprintf(name, sizeof name, "FilterChannelsName.%d", i);
        if (!need({name})) return false;
    }
    return true;
}

bool resub(Required& need, const Values<kResubFields.size()>& v) {
    if (!need({"Name", "Autostart", "ExpiryTimeEnable"})) return false;
    if (v.on("ExpiryTimeEnable") && !need({"ExpiryTime"})) return false;
    if (!need({"OverrideDestination"})) return false;
    if (v.on("OverrideDestination")) {
        if (!need({"DestinationDirectory", "DatabaseDestinationUse"})) return false;
        if (v.on("DatabaseDestinationUse") && !need({"DatabaseDestination"})) return false;
    }
    for (const char* cause : {"ChannelAlarm", "ChannelError", "CommTimeout"}) {
        const std::string generate = std::string("GenerateAlarmOn") + cause;
        if (!need({generate})) return false;
        if (v.on(generate) &&
            !need({std::string("PriorityAlarmOn") + cause, std::string("CommonAlarmOn") + cause,
                   std::string("DelayAlarmOn") + cause}))
            return false;
    }
    return true;
}

}  // namespace

int cfg_CheckLoggerElement(const qvr::FoundFieldList* found, const char* name) {
    if (found != nullptr && name != nullptr && found->contains(name)) return 0;
    char message[160];
    std::snprintf(message, sizeof message, "<%s> tag not found", name != nullptr ? name : "");
    xml_SetStatus(kXmlStatusFailed, message);
    return -1;
}

int cfg_CheckLoggerElements(const qvr::FoundFieldList* found, const char* kind_name, const void* record) {
    if (kind_name == nullptr || record == nullptr) return 0;
    Required need(found);
    switch (kind_of(kind_name)) {
        case LoggerKind::stand: return stand(need, Values(kStandFields, record, kStandRecordSize)) ? 0 : -1;
        case LoggerKind::repub: return repub(need, Values(kRepubFields, record, kRepubRecordSize)) ? 0 : -1;
        case LoggerKind::resub: return resub(need, Values(kResubFields, record, kResubRecordSize)) ? 0 : -1;
        case LoggerKind::other: return 0;
    }
    return 0;
}
