#pragma once
// The keys of a MySQL connection string: "PROVIDER=MYSQL;HOST=...;USER=...;DB=...;PORT=...;
// PASSWORD=<Base64>". Texts stay as given (Windows-1252); the caller converts them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace log_stores::mysql {

struct ConnectionKeys {
    std::string host = "localhost";
    std::string user;
    std::string database;
    unsigned port = 0;     // the connector's default
    std::string password;  // decoded
};

struct KeysResult {
    std::optional<ConnectionKeys> keys;
    // "NO USER IN CONNECTION STRING" or "NO DB IN CONNECTION STRING" when keys is empty.
    std::string context;
};

// Each key is looked for in turn (HOST, USER, DB, PORT, PASSWORD), letter case ignored, and
// cut out with its value (up to the next ';') before the next is looked for. A key counts only
// at the start of the text or of a ';'-separated part, so a value that holds "DB=" is never
// read as another key. Values longer than their key's capacity are cut to it.
KeysResult parse_connection_keys(std::string_view connection);

}  // namespace log_stores::mysql
