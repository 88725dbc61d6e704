#pragma once
// Typed descriptions of the device type's records, as the plug-in hands them to the
// configuration store: the device configuration (fields in bytes 0-31; the reserved rest is
// outside the description and carried as it is), its serial settings block, and the
// controller address inside a channel record. Header-only constant data over the shared
// typed-structure library.
#include <array>
#include <cstddef>

#include "qvr/records/full_width_text_type.h"
#include "tolva_ex/records.h"
#include "tslib/structs.h"

namespace tolva {

namespace detail {
constexpr std::array<StructsId, kFileTypeNames.size() + 1> file_type_ids() {
    std::array<StructsId, kFileTypeNames.size() + 1> ids{};
    for (std::size_t i = 0; i < kFileTypeNames.size(); ++i) {
        ids[i] = StructsId{kFileTypeNames[i].name.data(), kFileTypeNames[i].value, 0};  // exact case
    }
    ids[kFileTypeNames.size()] = StructsId{nullptr, 0, 0};
    return ids;
}
}  // namespace detail

// The file type names with their values, ended by a null name.
inline constexpr auto kFileTypeIds = detail::file_type_ids();

inline constexpr StructsType kFileTypeType = structs_id_type(sizeof(ChannelHwRecord::FileType), kFileTypeIds.data());
// A port name may fill all six bytes ("COM100").
inline constexpr StructsType kCommPortType = qvr::full_width_text_type(sizeof(CommSettings::CommPort));

inline constexpr std::size_t kCommSettingsFieldCount = 8;
inline constexpr StructsField kCommSettingsFields[kCommSettingsFieldCount + 1] = {
    structs_field("BaudRate", structs_type_uint32, offsetof(CommSettings, BaudRate)),
    structs_field("CommPort", kCommPortType, offsetof(CommSettings, CommPort)),
    structs_field("ReadFirst", structs_type_boolean_char_onoff, offsetof(CommSettings, ReadFirst)),
    structs_field("ReadBack", structs_type_boolean_char_onoff, offsetof(CommSettings, ReadBack)),
    structs_field("MaxRetries", structs_type_uint32, offsetof(CommSettings, MaxRetries)),
    structs_field("MaxEnquires", structs_type_uint32, offsetof(CommSettings, MaxEnquires)),
    structs_field("ReplyTimeout", structs_type_uint, offsetof(CommSettings, ReplyTimeout)),
    structs_field("ReplyAck", structs_type_uint, offsetof(CommSettings, ReplyAck)),
    structs_field_end(),
};
inline constexpr StructsType CommSettingsType = structs_struct_type(sizeof(CommSettings), kCommSettingsFields);

namespace detail {
// The settings fields lie flat in the device configuration, after the scan rate.
constexpr std::array<StructsField, kCommSettingsFieldCount + 2> device_config_fields() {
    std::array<StructsField, kCommSettingsFieldCount + 2> fields{};
    fields[0] = structs_field("ScanRate", structs_type_uint32, offsetof(DeviceConfigRecord, ScanRate));
    for (std::size_t i = 0; i < kCommSettingsFieldCount; ++i) {
        const StructsField& f = kCommSettingsFields[i];
        fields[i + 1] = structs_field(f.name, *f.type, offsetof(DeviceConfigRecord, Comm) + f.offset);
    }
    fields[kCommSettingsFieldCount + 1] = structs_field_end();
    return fields;
}
}  // namespace detail

inline constexpr auto kDeviceConfigFields = detail::device_config_fields();
inline constexpr StructsType DeviceConfigRecordType =
    structs_struct_type(sizeof(DeviceConfigRecord), kDeviceConfigFields.data());

inline constexpr StructsField kChannelHwFields[] = {
    // A number, so that every station has its own text.
    structs_field("StationNumber", structs_type_uint8, offsetof(ChannelHwRecord, StationNumber)),
    structs_field("FileType", kFileTypeType, offsetof(ChannelHwRecord, FileType)),
    structs_field("FileNumber", structs_type_int16, offsetof(ChannelHwRecord, FileNumber)),
    structs_field("ElementNumber", structs_type_int16, offsetof(ChannelHwRecord, ElementNumber)),
    structs_field("SubElementNumber", structs_type_int16, offsetof(ChannelHwRecord, SubElementNumber)),
    structs_field("MnemonicNumber", structs_type_int16, offsetof(ChannelHwRecord, MnemonicNumber)),
    structs_field("SlotNumber", structs_type_int16, offsetof(ChannelHwRecord, SlotNumber)),
    structs_field("Buffer", structs_type_boolean_int_onoff, offsetof(ChannelHwRecord, Buffer)),
    structs_field_end(),
};
inline constexpr StructsType ChannelHwRecordType = structs_struct_type(sizeof(ChannelHwRecord), kChannelHwFields);

static_assert(kDeviceConfigFields[kCommSettingsFieldCount].offset +
                  kDeviceConfigFields[kCommSettingsFieldCount].size ==
              offsetof(DeviceConfigRecord, Reserved32));

}  // namespace tolva
