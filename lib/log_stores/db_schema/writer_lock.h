#pragma once
// MariaDB and MySQL: the session that appends to a run's DATA table holds a named lock for as
// long as it lives. After a lost connection the new session takes the lock over only once the
// old session has ended, so the old session's last transaction is settled (committed or rolled
// back) before the store asks the table what it holds: a session killed on a running server may
// finish its commit after its client has gone.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace log_stores::db_schema {

// The lock of a run's DATA table: the server's names are global, so the database is in it.
std::string writer_lock_name(std::string_view database, std::string_view table_prefix);

enum class Claim { taken, held_elsewhere, failed };

// Runs a query and gives its one value as an integer: nothing inside for NULL, nothing at all
// when the query fails.
using ValueQuery = std::function<std::optional<std::optional<std::int64_t>>(const std::string& sql)>;

// Takes the lock for this session. A holder that is `previous` (this store's session before
// the connection was lost) is ended first; any holder is waited for at most `wait_seconds`.
Claim claim_writer_lock(const std::string& name, std::optional<std::int64_t> previous, int wait_seconds,
                        const ValueQuery& value);

// "SELECT CONNECTION_ID()".
inline constexpr const char* kSessionIdQuery = "SELECT CONNECTION_ID()";

}  // namespace log_stores::db_schema
