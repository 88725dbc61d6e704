#include "qvr/records/config_header.h"

#include <cstddef>
#include <iterator>

namespace {

constexpr StructsType kOnOff = structs_bool_type(true, kStructsBoolOnOff);

constexpr StructsField kConfigHeaderFields[] = {
    structs_field("AutoEnable", kOnOff, offsetof(qvr::ConfigHeader, AutoEnable)),
    structs_field("SaveOutputs", kOnOff, offsetof(qvr::ConfigHeader, SaveOutputs)),
    structs_field("SaveByTag", kOnOff, offsetof(qvr::ConfigHeader, SaveByTag)),
    structs_field("SaveRate", structs_type_uint32, offsetof(qvr::ConfigHeader, SaveRate)),
    structs_field_end(),
};
static_assert(std::size(kConfigHeaderFields) == qvr::kConfigHeaderFieldCount + 1);

}  // namespace

namespace qvr {

constexpr StructsType ConfigHeaderType = structs_struct_type(sizeof(ConfigHeader), kConfigHeaderFields);

}  // namespace qvr
