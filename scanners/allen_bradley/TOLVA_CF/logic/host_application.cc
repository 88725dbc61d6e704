#include "TOLVA_CF/logic/host_application.h"

#include <dlfcn.h>

#include <cstring>

#include "TOLVA_CF/exports.h"

namespace tolva::cf {

HostApplicationValues host_application_values() {
    HostApplicationValues values;
    void* symbol = dlsym(RTLD_DEFAULT, kHostApplicationSymbol);
    if (symbol == nullptr) return values;
    const auto host = reinterpret_cast<QvrHostApplicationFn>(symbol)();
    values.default_port_number = host.DefaultPortNumber;
    // The program's text need not be terminated.
    values.server_name.assign(host.ServerName, strnlen(host.ServerName, sizeof host.ServerName));
    return values;
}

}  // namespace tolva::cf
