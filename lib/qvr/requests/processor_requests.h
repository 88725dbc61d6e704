#pragma once
// Processors (data-processing programs) and devices of a server: counting, listing, state,
// control, and the combined list of configurable items. When the server does not answer the
// counting and listing requests (-1), the lists come from DATPROC.TXT and DEVCAP.TXT of the
// server's current configuration folder. Selectors: "*,<n>" (the first n), a number k (the
// k-th, from 1) or a name; `capacity` is n for "*,<n>", else 1. Record results: the number
// filled, -1 for a malformed reply (or a refused selector, 87), -2 for a list line that fails
// its rules (reported to the message sink).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "qvr/requests/request_records.h"

int CountProcessors(const char* server);
int CountDevices(const char* server);
int GetProcessorInfo(const char* server, const char* selector, ProcessorRecord* records, int capacity);
int GetDeviceInfo(const char* server, const char* selector, DeviceInfoRecord* records, int capacity);
int GetProcessorState(const char* server, const char* selector, ProcessorStateRecord* records, int capacity);
int GetDeviceState(const char* server, const char* selector, DeviceStateRecord* records, int capacity);

// `code`: a letter (processors C, I, R, T; devices C, I, R; either case) or a number of at
// least 256. Any other code: -1 with errno 0, nothing sent. Processor codes C and T and
// device code C disable the loggers around the request (DisableLoggers, ReenableLoggers).
int ControlProcessor(const char* server, int code, const char* name);
int ControlDevice(const char* server, int code, const char* name);
int DeleteProcessor(const char* server, const char* name);
int EnableProcessor(const char* server, const char* name);
int DeleteDevice(const char* server, const char* name);
int EnableDevice(const char* server, const char* name);

// 1 when "<print name> From Desktop" under the product key reads "ON" (any case). Only this
// machine's registry can be read: a pipe server elsewhere, and every other kind, give 0.
int IsEnabledFromDesktop(const char* server, const char* print_name);

// "<count>,<entry>;..." into `out` (`size` bytes with the NUL), one entry
// "<display name>,<prefix>,<channels>,<writable>;" per configurable channel kind of each
// device and per processor. The number of entries; -1 with 234 when it does not fit.
int ListConfigItems(const char* server, char* out, uint32_t size);

// The full path of a processor's plug-in library ("<name 5>_<code 2>.so", lower case) or
// program (no extension): this machine's QVR_BIN, the server's QVR_BIN, then the PATH. In a
// per-thread buffer; null when not found.
const char* FindProcessorLibrary(const char* server, const char* name, const char* code);
const char* FindProcessorProgram(const char* server, const char* name, const char* code);

namespace qvr::requests {

// A selector as the list files read it.
struct Selector {
    enum class Kind { first, index, name } kind = Kind::first;
    int n = 0;
    std::string name;
};
std::optional<Selector> selector_of(std::string_view text);

}  // namespace qvr::requests
