// The elements a channel read from XML must have, by its settings.
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "qvr/config/cfg_channel_tables.h"
#include "qvr/xml/xml.h"

namespace {

using qvr::AnalogFlag;
using qvr::DigitalFlag;

bool listed(ExFoundFieldList found, const char* name) {
    if (found == nullptr || name == nullptr) return false;
    const std::size_t n = std::strlen(name);
    for (const char* at = std::strstr(found, name); at != nullptr; at = std::strstr(at + 1, name)) {
        if (at > found && at[-1] == ',' && at[n] == ',') return true;
    }
    return false;
}

bool all(ExFoundFieldList found, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (cfg_CheckChannelElement(found, name) != 0) return false;
    return true;
}

bool digital_elements(ExFoundFieldList found, const qvr::DigitalChannel& d) {
    if (!all(found, {"EventEnable"})) return false;
    if (d.Flags.test(DigitalFlag::EventEnable) && !all(found, {"EventState"})) return false;
    if (!all(found, {"LowStateText", "HighStateText", "AlarmEnable"})) return false;
    if (d.Flags.test(DigitalFlag::AlarmEnable) &&
        !all(found, {"AlarmDriveCommon", "AlarmState", "AlarmPriority", "AlarmDelay", "AlarmText"}))
        return false;
    return true;
}

// The low or the high alarm of an analog channel.
bool alarm_side(ExFoundFieldList found, const qvr::ChannelFlags& flags, bool high) {
    const std::string side = high ? "High" : "Low";
    auto need = [&](const char* rest) { return cfg_CheckChannelElement(found, (side + rest).c_str()) == 0; };
    if (!need("AlarmEnable")) return false;
    if (!flags.test(high ? AnalogFlag::HighAlarmEnable : AnalogFlag::LowAlarmEnable)) return true;
    if (!need("AlarmDriveCommon") || !need("AlarmLimit") || !need("WarningEnable")) return false;
    if (flags.test(high ? AnalogFlag::HighWarningEnable : AnalogFlag::LowWarningEnable) &&
        !need("WarningLimit"))
        return false;
    if (!need("AlarmDeadbandEnable")) return false;
    if (flags.test(high ? AnalogFlag::HighAlarmDeadbandEnable : AnalogFlag::LowAlarmDeadbandEnable) &&
        !need("AlarmDeadband"))
        return false;
    return need("AlarmPriority") && need("AlarmDelay") && need("AlarmText");
}

bool analog_elements(ExFoundFieldList found, const qvr::AnalogChannel& a) {
    if (!all(found, {"EventEnable"})) return false;
    if (a.Flags.test(AnalogFlag::EventEnable)) {
        if (!all(found, {"LowEventLimit", "HighEventLimit"})) return false;
        float low, high;
        std::memcpy(&low, &a.LowEventLimit, sizeof low);
        std::memcpy(&high, &a.HighEventLimit, sizeof high);
        if (low > high) {
            xml_SetStatus(kXmlStatusFailed, "LowEventLimiit > HighEventLimit");
            return false;
        }
    }
    if (!all(found, {"Units", "MaximumUnits", "MinimumUnits", "ReferenceEnable", "SigChangeEnable"}))
        return false;
    if (a.Flags.test(AnalogFlag::SigChangeEnable) && !all(found, {"SigChangeValue"})) return false;
    if (!all(found, {"ScalingEnable"})) return false;
    if (a.Flags.test(AnalogFlag::ScalingEnable) && !all(found, {"Gain", "Offset"})) return false;
    return alarm_side(found, a.Flags, false) && alarm_side(found, a.Flags, true);
}

}  // namespace

int cfg_CheckChannelElement(ExFoundFieldList found, const char* name) {
    if (listed(found, name)) return 0;
    char message[128];
    std::snprintf(message, sizeof message, "<%s> Required", name != nullptr ? name : "");
    xml_SetStatus(kXmlStatusFailed, message);
    return -1;
}

int cfg_ValidateChannel(ExFoundFieldList found, const qvr::ChannelRecord* record) {
    if (record == nullptr) {
        xml_SetStatus(kXmlStatusInvalidArgument, "cfg_ValidateChannel() failed");
        return -1;
    }
    if (cfg_CheckChannelElement(found, "Enable") != 0) return -1;
    // Enable is word bit 0 in both layouts.
    if (!record->head.Flags.test(AnalogFlag::Enable)) return 0;
    if (!all(found, {"Tag", "Description", "Type", "ErrorAlarmEnable"})) return -1;
    const bool digital = qvr::is_digital(record->head.Type);
    const bool error_alarm = digital ? record->head.Flags.test(DigitalFlag::ErrorAlarmEnable)
                                     : record->head.Flags.test(AnalogFlag::ErrorAlarmEnable);
    if (error_alarm && !all(found, {"ErrorAlarmDriveCommon", "ErrorAlarmPriority", "ErrorAlarmDelay"}))
        return -1;
    const bool good =
        digital ? digital_elements(found, record->digital) : analog_elements(found, record->analog);
    return good ? 0 : -1;
}
