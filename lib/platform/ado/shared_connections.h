#pragma once
// Connections shared within the process per connection string. A process that holds a
// thousand runs open for reading needs one connection to their database, not a thousand: a
// MariaDB server accepts 151 by default. Only engines whose drivers read every result whole
// are shared (MariaDB); the others get a connection of their own each time. A shared
// connection closes when its last user lets it go, and one whose link failed is never handed
// out again.
#include <chrono>
#include <memory>
#include <string_view>

namespace ado {

class Connection;

// An open connection for `connection_string` with both time-outs set to `timeout`: the one
// shared for that string when it is sound, else a new one (raises as Connection::open does).
std::shared_ptr<Connection> shared_connection(std::u16string_view connection_string, std::chrono::seconds timeout);

// How many shared connections are open in this process (for the tests).
std::size_t shared_connection_count();

}  // namespace ado
