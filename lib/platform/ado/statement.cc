#include "platform/ado/statement.h"

#include <array>
#include <limits>

#include "platform/ado/com_error.h"
#include "platform/ado/connection.h"
#include "platform/ado/text_codec.h"

namespace ado {
namespace {

std::vector<SQLCHAR> c_text(const std::string& s) {
    std::vector<SQLCHAR> out(s.begin(), s.end());
    out.push_back(0);
    return out;
}

}  // namespace

Statement::Statement(Connection& connection)
    : connection_(connection),
      stmt_(allocate_handle(SQL_HANDLE_STMT, connection.handle(), connection.provider())),
      live_(connection.liveness()) {
    const auto seconds = static_cast<SQLULEN>(connection.command_timeout().count());
    SQLSetStmtAttr(stmt_.get(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(seconds), 0);
}

Statement::~Statement() {
    if (live_.expired()) stmt_.abandon();
}

SQLHSTMT Statement::handle() const {
    if (live_.expired()) raise(kObjectClosed, {}, "Operation is not allowed when the object is closed.");
    return stmt_.get();
}

void Statement::fail() { connection_.raise_from(SQL_HANDLE_STMT, stmt_.get()); }

void Statement::exec_direct(const std::string& utf8) {
    auto text = c_text(connection_.dialect().adapt_statement(utf8));
    const SQLRETURN rc = SQLExecDirect(handle(), text.data(), SQL_NTS);
    if (!odbc_ok(rc) && rc != SQL_NO_DATA) fail();
}

void Statement::prepare(const std::string& utf8) {
    auto text = c_text(connection_.dialect().adapt_statement(utf8));
    if (!odbc_ok(SQLPrepare(handle(), text.data(), SQL_NTS))) fail();
}

void Statement::bind(std::span<const Variant> values) {
    // Parameters of the same type as last time keep their binding and only get new values:
    // a prepared INSERT reused row after row binds once.
    if (values.size() != bound_.size()) {
        SQLFreeStmt(handle(), SQL_RESET_PARAMS);
        bound_.clear();
        for (size_t i = 0; i < values.size(); ++i) bound_.push_back(std::make_unique<Bound>());
    }
    const bool dates_as_text = connection_.dialect().dates_as_text();
    for (size_t i = 0; i < values.size(); ++i) {
        const Variant& v = values[i];
        Bound& b = *bound_[i];
        SQLSMALLINT c_type = SQL_C_CHAR;
        SQLSMALLINT sql_type = SQL_VARCHAR;
        SQLULEN size = 1;
        SQLSMALLINT digits = 0;
        SQLPOINTER data = nullptr;
        SQLLEN capacity = 0;
        const auto text = [&](std::string_view t) {
            b.bytes.assign(t.begin(), t.end());
            b.bytes.push_back(0);
            b.indicator = static_cast<SQLLEN>(t.size());
            size = std::max<SQLULEN>(t.size(), 1);
            data = b.bytes.data();
            capacity = static_cast<SQLLEN>(b.bytes.size());
        };
        switch (v.type()) {
            case VarType::empty:
            case VarType::null:
            case VarType::error:
                // A NULL keeps whatever binding the parameter has.
                if (b.bound) {
                    b.indicator = SQL_NULL_DATA;
                    continue;
                }
                b.indicator = SQL_NULL_DATA;
                break;
            case VarType::boolean:
            case VarType::i2:
            case VarType::i4:
            case VarType::i8:
                b.integer = v.int_value();
                b.indicator = 0;
                c_type = SQL_C_SBIGINT;
                sql_type = SQL_BIGINT;
                size = 19;
                data = &b.integer;
                break;
            case VarType::r4:
            case VarType::r8:
                b.real = v.real_value();
                b.indicator = 0;
                c_type = SQL_C_DOUBLE;
                sql_type = SQL_DOUBLE;
                size = 15;
                data = &b.real;
                break;
            case VarType::bstr:
                text(utf8_from_utf16(v.text_value()));
                break;
            case VarType::date:
                if (dates_as_text) {
                    text(canonical_date_text(v.date_value()));
                } else {
                    const CivilTime c = civil_from_date(v.date_value());
                    b.timestamp = {static_cast<SQLSMALLINT>(c.year),   static_cast<SQLUSMALLINT>(c.month),
                                   static_cast<SQLUSMALLINT>(c.day),   static_cast<SQLUSMALLINT>(c.hour),
                                   static_cast<SQLUSMALLINT>(c.minute), static_cast<SQLUSMALLINT>(c.second),
                                   static_cast<SQLUINTEGER>(c.nanoseconds / 1000000 * 1000000)};
                    b.indicator = 0;
                    c_type = SQL_C_TYPE_TIMESTAMP;
                    sql_type = SQL_TYPE_TIMESTAMP;
                    size = 23;
                    digits = 3;
                    data = &b.timestamp;
                    capacity = sizeof b.timestamp;
                }
                break;
            case VarType::binary:
                b.bytes.assign(v.bytes().begin(), v.bytes().end());
                b.indicator = static_cast<SQLLEN>(b.bytes.size());
                c_type = SQL_C_BINARY;
                sql_type = SQL_VARBINARY;
                size = std::max<SQLULEN>(b.bytes.size(), 1);
                data = b.bytes.data();
                capacity = static_cast<SQLLEN>(b.bytes.size());
                break;
            case VarType::array:
                raise(kTypeMismatch, connection_.provider(), "an array cannot be a parameter value");
        }
        if (b.bound && b.c_type == c_type && b.sql_type == sql_type && b.data == data && b.size >= size &&
            b.capacity >= capacity)
            continue;
        // Texts are bound with room to grow, so the next rows rarely bind again.
        if (c_type == SQL_C_CHAR || c_type == SQL_C_BINARY) {
            const size_t room = std::max<size_t>(b.bytes.size() * 2, 64);
            b.bytes.reserve(room);
            data = b.bytes.data();
            capacity = static_cast<SQLLEN>(room);
            size = std::max<SQLULEN>(size, room - 1);
        }
        if (!odbc_ok(SQLBindParameter(handle(), static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, c_type,
                                      sql_type, size, digits, data, capacity, &b.indicator)))
            fail();
        b.bound = true;
        b.c_type = c_type;
        b.sql_type = sql_type;
        b.data = data;
        b.size = size;
        b.capacity = capacity;
    }
}

void Statement::execute() {
    const SQLRETURN rc = SQLExecute(handle());
    if (!odbc_ok(rc) && rc != SQL_NO_DATA) fail();
}

int64_t Statement::row_count() {
    SQLLEN n = -1;
    if (!odbc_ok(SQLRowCount(handle(), &n))) return -1;
    return n;
}

std::vector<ColumnInfo> Statement::describe() {
    SQLSMALLINT count = 0;
    if (!odbc_ok(SQLNumResultCols(handle(), &count))) fail();
    std::vector<ColumnInfo> columns;
    for (SQLSMALLINT i = 1; i <= count; ++i) {
        std::array<SQLCHAR, 256> name{};
        SQLSMALLINT length = 0;
        ColumnInfo c;
        SQLSMALLINT digits = 0, nullable = 0;
        if (!odbc_ok(SQLDescribeCol(handle(), static_cast<SQLUSMALLINT>(i), name.data(),
                                    static_cast<SQLSMALLINT>(name.size()), &length, &c.sql_type, &c.size, &digits,
                                    &nullable)))
            fail();
        const size_t n = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), name.size() - 1);
        c.name = utf16_from_utf8(std::string_view(reinterpret_cast<const char*>(name.data()), n));
        columns.push_back(std::move(c));
    }
    return columns;
}

bool Statement::fetch() {
    const SQLRETURN rc = SQLFetch(handle());
    if (rc == SQL_NO_DATA) return false;
    if (!odbc_ok(rc)) fail();
    return true;
}

std::string Statement::read_chars(SQLUSMALLINT column, SQLSMALLINT c_type, bool& is_null) {
    std::string out;
    std::array<char, 4096> chunk{};
    is_null = false;
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(handle(), column, c_type, chunk.data(), static_cast<SQLLEN>(chunk.size()),
                                        &indicator);
        if (rc == SQL_NO_DATA) break;
        if (!odbc_ok(rc)) fail();
        if (indicator == SQL_NULL_DATA) {
            is_null = true;
            return {};
        }
        const size_t room = c_type == SQL_C_CHAR ? chunk.size() - 1 : chunk.size();
        const size_t got = indicator == SQL_NO_TOTAL || indicator < 0 || static_cast<size_t>(indicator) > room
                               ? room
                               : static_cast<size_t>(indicator);
        out.append(chunk.data(), got);
        if (rc == SQL_SUCCESS) break;
    }
    return out;
}

Variant Statement::value(size_t index, const ColumnInfo& column, std::string* raw) {
    const auto n = static_cast<SQLUSMALLINT>(index + 1);
    SQLLEN indicator = 0;
    switch (column.sql_type) {
        case SQL_BIT:
        case SQL_TINYINT:
        case SQL_SMALLINT:
        case SQL_INTEGER:
        case SQL_BIGINT: {
            int64_t v = 0;
            if (!odbc_ok(SQLGetData(handle(), n, SQL_C_SBIGINT, &v, sizeof v, &indicator))) fail();
            if (indicator == SQL_NULL_DATA) return Variant::null();
            if (column.sql_type == SQL_BIT) return Variant::boolean(v != 0);
            if (column.sql_type == SQL_BIGINT) return Variant::i8(v);
            if (column.sql_type != SQL_INTEGER && v >= INT16_MIN && v <= INT16_MAX)
                return Variant::i2(static_cast<int16_t>(v));
            if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
                return Variant::i4(static_cast<int32_t>(v));
            return Variant::i8(v);
        }
        case SQL_REAL:
        case SQL_FLOAT:
        case SQL_DOUBLE:
        case SQL_NUMERIC:
        case SQL_DECIMAL: {
            double v = 0;
            if (!odbc_ok(SQLGetData(handle(), n, SQL_C_DOUBLE, &v, sizeof v, &indicator))) fail();
            if (indicator == SQL_NULL_DATA) return Variant::null();
            // SQLite holds every real in 8 bytes.
            if (column.sql_type == SQL_REAL && connection_.dialect().engine() != Engine::sqlite)
                return Variant::r4(static_cast<float>(v));
            return Variant::r8(v);
        }
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY: {
            bool is_null = false;
            const std::string bytes = read_chars(n, SQL_C_BINARY, is_null);
            if (is_null) return Variant::null();
            return Variant::binary(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        }
        case SQL_TYPE_TIMESTAMP:
        case SQL_TYPE_DATE:
        case SQL_TIMESTAMP:
        case SQL_DATE: {
            bool is_null = false;
            std::string text = read_chars(n, SQL_C_CHAR, is_null);
            if (is_null) return Variant::null();
            if (raw) *raw = text;
            if (const auto date = parse_date_text(text)) return Variant::date(*date);
            return Variant::text(utf16_from_utf8(text));
        }
        default: {
            bool is_null = false;
            const std::string text = read_chars(n, SQL_C_CHAR, is_null);
            if (is_null) return Variant::null();
            return Variant::text(utf16_from_utf8(text));
        }
    }
}

void Statement::close_cursor() {
    if (!live_.expired()) SQLFreeStmt(stmt_.get(), SQL_CLOSE);
}

}  // namespace ado
