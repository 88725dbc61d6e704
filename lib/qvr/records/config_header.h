#pragma once
// The header settings of a device configuration, as the XML form and its schema hold them:
// AutoEnable, SaveOutputs, SaveByTag ("Off"/"On", four bytes each; any Boolean word is
// read) and SaveRate (unsigned, decimal).
#include <cstdint>

#include "tslib/structs.h"

namespace qvr {

struct ConfigHeader {
    std::uint32_t AutoEnable;
    std::uint32_t SaveOutputs;
    std::uint32_t SaveByTag;
    std::uint32_t SaveRate;
};
static_assert(sizeof(ConfigHeader) == 16);

inline constexpr int kConfigHeaderFieldCount = 4;

extern const StructsType ConfigHeaderType;

}  // namespace qvr
