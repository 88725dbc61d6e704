#pragma once
// Connection strings as the stored locations carry them ("Provider=...; Data Source=...")
// and their translation to an ODBC connection through the provider map. Pure functions:
// the driver paths come in as arguments, so the map is tested and fuzzed as a table.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/hresult.h"
#include "platform/secret_mask.h"

namespace ado {

struct ConnectionKey {
    std::string name;   // as written, trimmed
    std::string value;  // quotes and braces removed
};

// Splits "key=value;key='va;lue';key={va;lue}" into its keys. Spaces around keys and
// unquoted values are dropped, a part without '=' is skipped, and every key is kept in
// order (find_key takes the last of duplicates, as the providers do).
std::vector<ConnectionKey> parse_connection_string(std::string_view text);
// The value of the last key of that name (letter case ignored).
std::optional<std::string> find_key(const std::vector<ConnectionKey>& keys, std::string_view name);

// Error texts and traces that quote a connection hide its password with the one mask.
using platform::mask_secrets;

enum class ProviderKind { sql_server, sqlite_file, odbc, unavailable };

// The driver libraries, by path (unixODBC loads them with Driver=<path>).
struct DriverPaths {
    std::string sqlite;
    std::string mariadb;
    std::string freetds;
};
// The Debian paths, each overridable for tests by QUORVANE_ODBC_SQLITE,
// QUORVANE_ODBC_MARIADB and QUORVANE_ODBC_FREETDS.
DriverPaths installed_driver_paths();

struct ProviderTarget {
    ProviderKind kind = ProviderKind::unavailable;
    std::string provider;  // the name errors carry as their source
    std::string odbc;      // the ODBC connection string; empty when refused
    HRESULT refusal = 0;   // non-zero when the connection cannot be made here
    std::string refusal_text;
};

struct ProviderOptions {
    std::chrono::seconds login_timeout{300};
    bool create_database = false;  // only the catalog makes a new SQLite file
};

ProviderTarget map_provider(std::string_view connection_string, const DriverPaths& drivers,
                            const ProviderOptions& options = {});

// An ODBC "key=value" pair, braced when the value needs it.
std::string odbc_pair(std::string_view key, std::string_view value);

}  // namespace ado
