#pragma once
// The program's frame: start-up in its order, the command loop and the exit. Started by the
// runtime host with the device number as its only argument. SIGTERM and SIGINT stop it as
// command 31 does. TOLVA_NO_REALTIME=1 in the environment skips the request for real-time
// scheduling (tests and the demo set it).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolva {

inline constexpr int kRealtimePriority = 10;
inline constexpr const char* kNoRealtimeVariable = "TOLVA_NO_REALTIME";

// The device-type prefix from the program's path: its file name cut at the last '_'
// ("tolva_sc" -> "tolva"); none without a '_'.
std::optional<std::string> device_type_prefix(std::string_view program_path);
// The device number: exactly one argument, read as a decimal number, whose low 16 bits are
// not 0; none otherwise.
std::optional<uint16_t> device_number_argument(int argc, const char* const* argv);

// The exit code of a failure: its error number, or 255 when the low 8 bits that Linux keeps
// of it are 0 (the runtime library's "invalid argument" is 0), so no failure reads as success.
int failure_exit_code(int error);

// Runs the scanner; the process's exit code (Linux keeps its low 8 bits).
int run_scanner(int argc, const char* const* argv);

}  // namespace tolva
