#pragma once
// The typed descriptions of the three logger records, built from their field tables
// (logger_layout.h): the XML form writes one element per leaf, in table order.
//
// StandLoggerConfig keeps its own size 22,964 while its fields reach 32,218: no operation
// on the whole structure (init, copy, equal, encode) may be applied to it. Every buffer
// that holds a standard record is 32,220 bytes and leaves are converted one at a time.
#include <cstdint>

#include "qvr/logger_config/logger_binary.h"
#include "tslib/structs.h"

extern const StructsType StandLoggerConfig;
extern const StructsType RepubLoggerConfig;
extern const StructsType ResubLoggerConfig;

namespace qvr::logger {

// The description of a known kind; null for `other`.
const StructsType* logger_type(LoggerKind kind);

// Values of the enumerations the required-element rules look at.
enum class StandType : std::uint8_t { period = 0, period_event = 1, event = 2, rate_of_change = 3 };
enum class Storage : std::uint32_t { file = 0, database = 1 };
enum class CycleKind : std::uint8_t { none = 0, on_time = 1, on_event = 2 };
enum class ExportType : std::uint32_t { run_command = 0, data_export = 1 };
// The order StartMode numbers them; CycleMode numbers them the other way round.
enum class StartMode : std::uint8_t { append = 0, create = 1 };
enum class CycleMode : std::uint32_t { create = 0, append = 1 };

}  // namespace qvr::logger
