#pragma once
// What differs between the database engines behind the drivers, chosen by the DBMS name the
// driver reports.
#include <string>
#include <string_view>

namespace ado {

enum class Engine { sqlite, mariadb, sql_server, jet, other };

// MariaDB and MySQL read "REAL" as an 8-byte DOUBLE unless the session says otherwise; the
// schemas mean the 4-byte float of the engines they were written for, and a row of doubles
// takes twice the room its values need. Sent on every session that may make tables.
inline constexpr const char* kRealAsFloatSession =
    "SET SESSION sql_mode = CONCAT_WS(',', NULLIF(@@sql_mode, ''), 'REAL_AS_FLOAT')";

class Dialect {
  public:
    explicit Dialect(Engine engine = Engine::other) : engine_(engine) {}
    // "SQLite", "MariaDB", "MySQL", "Microsoft SQL Server", "ACCESS", or any other name.
    static Dialect from_dbms_name(std::string_view name);

    Engine engine() const { return engine_; }
    // The date literal kinds (0 "{ ts 'Y-M-D ...' }", 1 "{ ts 'Y/M/D ...' }", 2 "#M/D/Y ...#")
    // the engine reads as dates.
    bool date_literal_valid(int kind) const;
    std::string quote_identifier(std::string_view name) const;
    std::string quote_literal(std::string_view text) const;
    // "SELECT TOP n ..." or "... LIMIT n".
    bool row_limit_is_top() const { return engine_ == Engine::sql_server || engine_ == Engine::jet; }
    // Dates are bound and written as "YYYY-MM-DD HH:MM:SS.000" text (SQLite keeps them as text).
    bool dates_as_text() const { return engine_ == Engine::sqlite; }
    // Equality that holds for two NULLs, with one '?' per placeholder count given back.
    std::string null_safe_equal(std::string_view quoted_column, int& placeholders) const;
    // The text of a statement as this engine needs it: on SQLite every date literal of
    // kind 0 becomes the canonical text, and one of kind 1 is refused (0x80040E14).
    std::string adapt_statement(std::string_view utf8) const;
    // Index names are per database on SQLite and per table elsewhere, so on SQLite an index
    // is named after the run's table prefix ("<prefix>CH", "<prefix>TM").
    std::string index_name(std::string_view table_prefix, std::string_view index) const;
    // The column type of an ADO type number (adInteger 3, adDouble 5, adVarWChar 202, ...)
    // and a defined size; empty for a type the engine cannot hold.
    std::string column_type(int ado_type, int size, bool auto_increment) const;
    bool engine_is_server() const { return engine_ != Engine::sqlite && engine_ != Engine::jet; }
    // A text column of `size` characters in the code page's single bytes, as "char(n)" is on
    // the engines the schemas were written for (MariaDB's latin1 is Windows-1252).
    std::string code_page_char(int size) const;

  private:
    Engine engine_;
};

}  // namespace ado
