#include "platform/ado/dialect.h"

#include <cctype>

#include "platform/ado/com_error.h"
#include "platform/ado/date_value.h"

namespace ado {
namespace {

bool contains_no_case(std::string_view text, std::string_view needle) {
    if (needle.size() > text.size()) return false;
    for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < needle.size() && std::tolower(static_cast<unsigned char>(text[i + k])) ==
                                        std::tolower(static_cast<unsigned char>(needle[k])))
            ++k;
        if (k == needle.size()) return true;
    }
    return false;
}

std::string sized(const char* type, int size, int fallback) {
    return std::string(type) + "(" + std::to_string(size > 0 ? size : fallback) + ")";
}

}  // namespace

Dialect Dialect::from_dbms_name(std::string_view name) {
    if (contains_no_case(name, "sqlite")) return Dialect(Engine::sqlite);
    if (contains_no_case(name, "mariadb") || contains_no_case(name, "mysql")) return Dialect(Engine::mariadb);
    if (contains_no_case(name, "sql server")) return Dialect(Engine::sql_server);
    if (contains_no_case(name, "access") || contains_no_case(name, "jet")) return Dialect(Engine::jet);
    return Dialect(Engine::other);
}

bool Dialect::date_literal_valid(int kind) const {
    switch (engine_) {
        case Engine::sqlite:
            return kind == 0;
        case Engine::jet:
            return kind == 2;
        default:
            return kind == 0 || kind == 1;
    }
}

std::string Dialect::quote_identifier(std::string_view name) const {
    char open = '"', close = '"';
    if (engine_ == Engine::mariadb) open = close = '`';
    if (engine_ == Engine::sql_server || engine_ == Engine::jet) open = '[', close = ']';
    std::string out(1, open);
    for (const char c : name) {
        out += c;
        if (c == close) out += c;
    }
    out += close;
    return out;
}

std::string Dialect::quote_literal(std::string_view text) const {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'') out += '\'';
        if (c == '\\' && engine_ == Engine::mariadb) out += '\\';
        out += c;
    }
    out += '\'';
    return out;
}

std::string Dialect::null_safe_equal(std::string_view column, int& placeholders) const {
    std::string c(column);
    switch (engine_) {
        case Engine::sqlite:
            placeholders = 1;
            return c + " IS ?";
        case Engine::mariadb:
            placeholders = 1;
            return c + " <=> ?";
        default:
            placeholders = 2;
            return "(" + c + " = ? OR (" + c + " IS NULL AND ? IS NULL))";
    }
}

std::string Dialect::adapt_statement(std::string_view sql) const {
    if (engine_ != Engine::sqlite) return std::string(sql);
    std::string out;
    out.reserve(sql.size());
    size_t i = 0;
    char quote = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (quote) {
            out += c;
            if (c == quote) quote = 0;
            ++i;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            out += c;
            ++i;
            continue;
        }
        if (c == '{') {
            // "{ ts 'YYYY-MM-DD HH:MM:SS.000' }" and "{ d '...' }" with any spacing.
            size_t k = i + 1;
            while (k < sql.size() && sql[k] == ' ') ++k;
            size_t word = k;
            while (k < sql.size() && std::isalpha(static_cast<unsigned char>(sql[k]))) ++k;
            const std::string_view kw = sql.substr(word, k - word);
            while (k < sql.size() && sql[k] == ' ') ++k;
            if ((kw == "ts" || kw == "TS" || kw == "d" || kw == "D") && k < sql.size() && sql[k] == '\'') {
                const size_t close = sql.find('\'', k + 1);
                if (close != std::string_view::npos) {
                    size_t end = close + 1;
                    while (end < sql.size() && sql[end] == ' ') ++end;
                    const std::string_view body = sql.substr(k + 1, close - k - 1);
                    // SQLite would keep a slashed date as text that compares wrong: refuse it,
                    // so that the caller's literal retry moves on to a form that works.
                    if (body.find('/') != std::string_view::npos && end < sql.size() && sql[end] == '}')
                        raise(kSyntax, "SQLite.File", "this date literal form is not valid on this database");
                    const auto date = parse_date_text(body);
                    if (date && end < sql.size() && sql[end] == '}') {
                        out += "'" + canonical_date_text(*date) + "'";
                        i = end + 1;
                        continue;
                    }
                }
            }
        }
        out += c;
        ++i;
    }
    return out;
}

std::string Dialect::index_name(std::string_view table_prefix, std::string_view index) const {
    if (engine_ != Engine::sqlite) return std::string(index);
    return std::string(table_prefix) + std::string(index);
}

std::string Dialect::code_page_char(int size) const {
    const std::string type = "char(" + std::to_string(size) + ")";
    return engine_ == Engine::mariadb ? type + " CHARACTER SET latin1" : type;
}

std::string Dialect::column_type(int ado_type, int size, bool auto_increment) const {
    const bool sqlite = engine_ == Engine::sqlite;
    const bool mssql = engine_ == Engine::sql_server;
    if (auto_increment) {
        if (sqlite) return "INTEGER PRIMARY KEY AUTOINCREMENT";
        if (engine_ == Engine::mariadb) return "INTEGER NOT NULL AUTO_INCREMENT PRIMARY KEY";
        if (mssql) return "INTEGER IDENTITY(1,1)";
        return "COUNTER";
    }
    switch (ado_type) {
        case 2:  // adSmallInt
            return "SMALLINT";
        case 3:  // adInteger
            return "INTEGER";
        case 4:  // adSingle
            return "REAL";
        case 5:  // adDouble
            return mssql ? "FLOAT" : "DOUBLE PRECISION";
        case 6:  // adCurrency
            return mssql ? "MONEY" : "DECIMAL(19,4)";
        case 7:    // adDate
        case 133:  // adDBDate
        case 135:  // adDBTimeStamp
            return "DATETIME";
        case 11:  // adBoolean
            return sqlite ? "INTEGER" : "BIT";
        case 16:  // adTinyInt
        case 17:  // adUnsignedTinyInt
            return sqlite ? "INTEGER" : "TINYINT";
        case 20:  // adBigInt
            return "BIGINT";
        case 129:  // adChar
            return sized("CHAR", size, 255);
        case 130:  // adWChar
            return sized(mssql ? "NCHAR" : "CHAR", size, 255);
        case 200:  // adVarChar
            return sized("VARCHAR", size, 255);
        case 202:  // adVarWChar
            return sized(mssql ? "NVARCHAR" : "VARCHAR", size, 255);
        case 201:  // adLongVarChar
        case 203:  // adLongVarWChar
            return mssql ? "NVARCHAR(MAX)" : sqlite ? "TEXT" : "LONGTEXT";
        case 128:  // adBinary
        case 204:  // adVarBinary
            return sized("VARBINARY", size, 255);
        case 205:  // adLongVarBinary
            return mssql ? "VARBINARY(MAX)" : sqlite ? "BLOB" : "LONGBLOB";
        case 131:  // adNumeric
            return "NUMERIC(18,6)";
        default:
            return {};
    }
}

}  // namespace ado
