#include "TOLVA_CF/logic/host_application.h"

#include <cstring>

#include "TOLVA_CF/exports.h"
#include "platform/dynamic_library.h"

namespace tolva::cf {

HostApplicationValues host_application_values() {
    HostApplicationValues values;
    void* symbol = platform::global_symbol(kHostApplicationSymbol);
    if (symbol == nullptr) return values;
    const auto host = reinterpret_cast<QvrHostApplicationFn>(symbol)();
    values.default_port_number = host.DefaultPortNumber;
    // The program's text need not be terminated.
    values.server_name.assign(host.ServerName, strnlen(host.ServerName, sizeof host.ServerName));
    return values;
}

}  // namespace tolva::cf
