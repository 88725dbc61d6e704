// The connection-string parser, the provider map and the secret mask over arbitrary text.
// Nothing may read past the text; every key found has a name; a password value never
// survives the mask; a mapped connection names the driver from the table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/ado/connection_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto keys = ado::parse_connection_string(text);
    for (const auto& k : keys)
        if (k.name.empty()) std::abort();
    const ado::DriverPaths drivers{"/drv/sqlite.so", "/drv/maria.so", "/drv/tds.so"};
    const ado::ProviderTarget t = ado::map_provider(text, drivers);
    if (t.refusal == 0) {
        if (t.odbc.empty()) std::abort();
        if (t.kind == ado::ProviderKind::sqlite_file && !t.odbc.starts_with("Driver=/drv/sqlite.so;")) std::abort();
        if (t.kind == ado::ProviderKind::sql_server && !t.odbc.starts_with("Driver=/drv/tds.so;")) std::abort();
    } else if (t.refusal_text.empty()) {
        std::abort();
    }
    const std::string masked = ado::mask_secrets(text);
    // A plain ";Password=<value>;" part keeps no trace of its value.
    const auto pwd = ado::find_key(keys, "Password");
    const std::string part = ";Password=" + pwd.value_or("") + ";";
    if (pwd && pwd->size() >= 4 && (";" + text).find(part) != std::string::npos &&
        (";" + masked).find(part) != std::string::npos)
        std::abort();
    return 0;
}
