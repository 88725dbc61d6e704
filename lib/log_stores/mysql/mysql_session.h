#pragma once
// One connection to a MySQL server and its prepared statements. Every value is bound, never
// put into statement text. Texts cross here as UTF-8 (the connection's utf8mb4); callers
// convert the system's Windows-1252 texts.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "log_stores/mysql/connection_keys.h"
#include "platform/ado/date_value.h"

struct st_mysql;
struct st_mysql_time;

namespace log_stores::mysql {

// NULL, an integer, a float, a UTF-8 text, a date-time (zone-free seconds).
using Value = std::variant<std::monostate, std::int64_t, double, std::string, ado::DateValue>;
using Row = std::vector<Value>;

// What a failing step left: the server's error number and text, and the program's message.
struct Failure {
    unsigned code = 0;
    std::string text;
    std::string context;
};

struct Result {
    std::vector<Row> rows;
    std::uint64_t affected = 0;
};

// MySQL's "table exists".
inline constexpr unsigned kTableExists = 1050;
// MySQL's "key does not exist in table" (an index named that is not there).
inline constexpr unsigned kNoSuchIndex = 1176;

class Session {
  public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // A connection of its own: host, user, password, database and port of the keys, no socket,
    // no flags; utf8mb4. The failure's context is "CAN'T OPEN DATABASE" or "CAN'T CONNECT TO
    // DATABASE".
    std::optional<Failure> connect(const ConnectionKeys& keys);
    // The process's connection for these keys, shared with every other session that asks for it
    // (a thousand runs open for reading hold one): statements take turns on it. One whose link
    // failed is not handed out again; the last session to let it go closes it.
    std::optional<Failure> connect_shared(const ConnectionKeys& keys);
    bool connected() const { return link_ != nullptr; }
    bool shared() const;
    void close();

    // Prepares, binds and runs one statement; rows are fetched one at a time into a growing list.
    std::variant<Result, Failure> run(std::string_view sql, std::span<const Value> params = {});
    // A plain statement through the text protocol, and its first value as an integer (nothing
    // inside for NULL or no rows).
    std::variant<std::optional<std::int64_t>, Failure> query_text(const std::string& sql);
    // The server's largest packet (max_allowed_packet), read once.
    std::size_t max_packet();
    // The connection itself, for the statements this folder keeps on a connection of its own;
    // null when closed or shared.
    st_mysql* raw() const;

    // Shared connections open in this process (for the tests).
    static std::size_t shared_count();

    struct Link;

  private:
    std::shared_ptr<Link> link_;
};

// The connector's date-time of a zone-free date value.
void fill_time(ado::DateValue date, st_mysql_time& out);

// A name in backticks, a backtick inside doubled; a NUL ends it.
std::string quoted(std::string_view name);

}  // namespace log_stores::mysql
