#pragma once
// Keeps the standard record's second layout (read by older programs) in step with its typed
// fields, and fills the republisher's cycle codes. Every function takes a whole record of
// its kind (logger_layout.h sizes) and does nothing to a shorter span.
#include <cstdint>
#include <span>
#include <string>

namespace qvr::logger {

// Cycle code of a 6-byte duration as the record holds it (months, days, hours, minutes at
// bytes 1 to 4).
std::uint8_t duration_cycle_code(std::span<const std::uint8_t> duration);

// After loading the typed fields: channel copies, 16-entry copies and bit map, cycle codes,
// export flags and file kind, password counts and bytes from the hexadecimal texts, markers.
// A password text that is odd-length, not hexadecimal or longer than 512 digits leaves the
// record's counts alone and names the field in `bad_field`; the result is then -1.
int fill_second_layout(std::span<std::uint8_t> stand, std::string& bad_field);

// Before writing the typed fields: channel arrays from the 64-entry copies, export booleans
// from the flags byte, password texts as lower-case hexadecimal of the counted bytes (a count
// outside 0-256 is taken as the nearest bound), marker 13240 set.
void fill_typed_fields(std::span<std::uint8_t> stand);

void fill_repub_cycle_codes(std::span<std::uint8_t> repub);

}  // namespace qvr::logger
