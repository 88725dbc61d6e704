#pragma once
// The XML form of a logger record: "<kind>_<n>.xml" in the loggers' folder, one element of
// `Logger` per leaf of the kind's description.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "qvr/config/cfg_device_config_internal.h"
#include "qvr/logger_config/logger_binary.h"

namespace qvr::logger {

std::string xml_file_name(std::string_view kind_name, int number);

// Reads the file into `scratch` (zeroed, the kind's full size) and fills the second layout
// ("stand") or the cycle codes ("repub"). `strict`: the required elements are checked and a
// failure is reported (errno 1465). Not strict, for the audit's old state: what is missing
// or does not convert stays zero; only a document that cannot be read at all fails.
cfg::LoadOutcome load_xml(const std::string& path, std::string_view kind_name, int number, LoggerKind kind,
                          std::span<std::uint8_t> scratch, bool strict);

// Writes the file anew from `record` (the caller's bytes, of any size) and then the schema.
// 0 / -1 (reported).
int write_xml(const std::string& dir, std::string_view kind_name, int number, LoggerKind kind,
              std::span<const std::uint8_t> record);

}  // namespace qvr::logger
