#pragma once
// One ODBC statement of a connection: prepared or direct execution with bound '?'
// parameters, and the columns and values of its result, as Variants.
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/ado/odbc_handle.h"
#include "platform/ado/variant.h"

namespace ado {

class Connection;

struct ColumnInfo {
    std::u16string name;
    SQLSMALLINT sql_type = 0;
    SQLULEN size = 0;
    // REAL and FLOAT values compare unreliably, so row updates leave them out.
    bool approximate() const { return sql_type == SQL_REAL || sql_type == SQL_FLOAT || sql_type == SQL_DOUBLE; }
};

class Statement {
  public:
    explicit Statement(Connection& connection);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void exec_direct(const std::string& utf8);
    void prepare(const std::string& utf8);
    // Binds the values to the '?' placeholders in order; they stay bound until the next bind.
    void bind(std::span<const Variant> values);
    void execute();
    int64_t row_count();

    std::vector<ColumnInfo> describe();
    // False at the end of the rows.
    bool fetch();
    // The value of column `index` (0-based) of the fetched row; `raw` receives the driver's
    // text of a date column (the form the row is stored in).
    Variant value(size_t index, const ColumnInfo& column, std::string* raw = nullptr);
    void close_cursor();

  private:
    [[noreturn]] void fail();
    // Raises when the connection has closed under the statement.
    SQLHSTMT handle() const;
    std::string read_chars(SQLUSMALLINT column, SQLSMALLINT c_type, bool& is_null);

    Connection& connection_;
    OdbcHandle stmt_;
    std::weak_ptr<const bool> live_;
    // The bound values, kept alive while they are bound.
    struct Bound {
        std::vector<char> bytes;
        SQLLEN indicator = 0;
        SQL_TIMESTAMP_STRUCT timestamp{};
        int64_t integer = 0;
        double real = 0;
        // The binding in force.
        bool bound = false;
        SQLSMALLINT c_type = 0;
        SQLSMALLINT sql_type = 0;
        SQLPOINTER data = nullptr;
        SQLULEN size = 0;
        SQLLEN capacity = 0;
    };
    std::vector<std::unique_ptr<Bound>> bound_;
};

}  // namespace ado
