#include "platform/ado/catalog.h"

#include <sys/stat.h>

#include <array>

#include "platform/ado/com_error.h"
#include "platform/ado/connection.h"
#include "platform/ado/connection_string.h"
#include "platform/ado/shared_connections.h"
#include "platform/ado/text_codec.h"

namespace ado {
namespace {

bool equal_no_case(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto up = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
        if (up(a[i]) != up(b[i])) return false;
    }
    return true;
}

bool auto_increment(const CatalogColumn& c) {
    const auto it = c.properties.find(u"AutoIncrement");
    if (it == c.properties.end()) return false;
    try {
        return it->second.to_bool() != 0;
    } catch (const ComError&) {
        return false;
    }
}

std::string column_definition(const Connection& c, const CatalogColumn& column) {
    const std::string type = c.dialect().column_type(column.type, column.size, auto_increment(column));
    if (type.empty())
        raise(kNotSupported, c.provider(),
              "the column type " + std::to_string(column.type) + " of " + utf8_from_utf16(column.name) +
                  " is not supported");
    return c.dialect().quote_identifier(utf8_from_utf16(column.name)) + " " + type;
}

// The connection's own database, for the catalog functions: given no catalog, a server's
// driver lists the tables and columns of every database the user can see, so a table of the
// same name in another database would be taken for this one's. SQLite files have one.
class OwnCatalog {
  public:
    explicit OwnCatalog(const Connection& c) {
        if (c.dialect().engine() == Engine::sqlite) return;
        SQLINTEGER length = 0;
        if (!odbc_ok(SQLGetConnectAttr(c.handle(), SQL_ATTR_CURRENT_CATALOG, name_.data(),
                                       static_cast<SQLINTEGER>(name_.size() - 1), &length)) ||
            length <= 0 || static_cast<size_t>(length) >= name_.size())
            name_[0] = 0;
    }
    SQLCHAR* name() { return name_[0] != 0 ? name_.data() : nullptr; }
    SQLSMALLINT length() const { return name_[0] != 0 ? SQL_NTS : 0; }

  private:
    std::array<SQLCHAR, 256> name_{};
};

// SQLite's own bookkeeping tables (sqlite_sequence of an auto-increment column).
bool is_internal(const Connection& c, std::string_view name) {
    return c.dialect().engine() == Engine::sqlite && name.starts_with("sqlite_");
}

}  // namespace

CatalogColumn* CatalogTable::column(std::u16string_view wanted) {
    for (auto& c : columns)
        if (equal_no_case(c.name, wanted)) return &c;
    return nullptr;
}

Catalog::Catalog() = default;
Catalog::~Catalog() = default;

void Catalog::set_active_connection(std::u16string_view cs) {
    connection_ = shared_connection(cs, default_timeout());
}

void Catalog::create(std::u16string_view cs) {
    const std::string text = utf8_from_utf16(cs);
    const ProviderTarget target = map_provider(text, installed_driver_paths());
    if (target.refusal != 0) raise(target.refusal, target.provider, target.refusal_text);
    if (target.kind != ProviderKind::sqlite_file)
        raise(kNotSupported, target.provider, "creating a database is not supported for this provider");
    std::string path = find_key(parse_connection_string(text), "Data Source").value_or("");
    for (char& c : path)
        if (c == '\\') c = '/';
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        raise(hr(0x80040E17), target.provider, "the database " + path + " already exists");
    auto fresh = std::make_shared<Connection>();
    fresh->open_creating(cs);
    // SQLite makes the file with its first write.
    fresh->execute_utf8("PRAGMA user_version = 1");
    connection_ = std::move(fresh);
}

bool Catalog::connected() const { return connection_ && connection_->state() == 1; }

Connection& Catalog::require_connection() const {
    if (!connected())
        raise(hr(0x800A0E7D), {}, "The connection cannot be used to perform this operation. It is either closed or invalid in this context.");
    return *connection_;
}

int64_t Catalog::table_count() {
    Connection& c = require_connection();
    OdbcHandle stmt = allocate_handle(SQL_HANDLE_STMT, c.handle(), c.provider());
    SQLCHAR type[] = "TABLE";
    OwnCatalog own(c);
    if (!odbc_ok(SQLTables(stmt.get(), own.name(), own.length(), nullptr, 0, nullptr, 0, type, SQL_NTS)))
        c.raise_from(SQL_HANDLE_STMT, stmt.get());
    int64_t n = 0;
    while (odbc_ok(SQLFetch(stmt.get()))) {
        std::array<SQLCHAR, 256> text{};
        SQLLEN length = 0;
        if (odbc_ok(SQLGetData(stmt.get(), 3, SQL_C_CHAR, text.data(), static_cast<SQLLEN>(text.size()), &length)) &&
            length >= 0 && is_internal(c, reinterpret_cast<const char*>(text.data())))
            continue;
        ++n;
    }
    return n;
}

std::optional<CatalogTable> Catalog::find_table(std::u16string_view name) {
    Connection& c = require_connection();
    std::string wanted = utf8_from_utf16(name);
    OdbcHandle stmt = allocate_handle(SQL_HANDLE_STMT, c.handle(), c.provider());
    SQLCHAR type[] = "TABLE";
    OwnCatalog own(c);
    if (!odbc_ok(SQLTables(stmt.get(), own.name(), own.length(), nullptr, 0, nullptr, 0, type, SQL_NTS)))
        c.raise_from(SQL_HANDLE_STMT, stmt.get());
    std::optional<std::u16string> found;
    while (odbc_ok(SQLFetch(stmt.get()))) {
        std::array<SQLCHAR, 256> text{};
        SQLLEN length = 0;
        if (!odbc_ok(SQLGetData(stmt.get(), 3, SQL_C_CHAR, text.data(), static_cast<SQLLEN>(text.size()), &length)))
            continue;
        if (length < 0 || is_internal(c, reinterpret_cast<const char*>(text.data()))) continue;
        const size_t n = std::min<size_t>(static_cast<size_t>(length), text.size() - 1);
        const std::u16string table = utf16_from_utf8(std::string_view(reinterpret_cast<const char*>(text.data()), n));
        // SQLite and SQL Server compare table names without letter case; MariaDB here does not.
        if (c.dialect().engine() == Engine::mariadb ? table == name : equal_no_case(table, name)) {
            found = table;
            break;
        }
    }
    stmt.reset();
    if (!found) return std::nullopt;
    CatalogTable t;
    t.name = *found;
    t.exists = true;
    OdbcHandle cols = allocate_handle(SQL_HANDLE_STMT, c.handle(), c.provider());
    std::vector<SQLCHAR> tname(wanted.begin(), wanted.end());
    tname.push_back(0);
    if (odbc_ok(SQLColumns(cols.get(), own.name(), own.length(), nullptr, 0, tname.data(), SQL_NTS, nullptr, 0))) {
        while (odbc_ok(SQLFetch(cols.get()))) {
            std::array<SQLCHAR, 256> text{};
            SQLLEN length = 0;
            CatalogColumn column;
            if (odbc_ok(SQLGetData(cols.get(), 4, SQL_C_CHAR, text.data(), static_cast<SQLLEN>(text.size()), &length)) &&
                length >= 0)
                column.name = utf16_from_utf8(std::string_view(reinterpret_cast<const char*>(text.data()),
                                                               std::min<size_t>(static_cast<size_t>(length), 255)));
            t.columns.push_back(std::move(column));
        }
    }
    return t;
}

void Catalog::append_table(CatalogTable& table) {
    Connection& c = require_connection();
    if (table.name.empty() || table.columns.empty())
        raise(kInvalidArg, c.provider(), "a table needs a name and at least one column");
    std::string sql = "CREATE TABLE " + c.dialect().quote_identifier(utf8_from_utf16(table.name)) + " (";
    for (size_t i = 0; i < table.columns.size(); ++i) {
        if (i) sql += ", ";
        sql += column_definition(c, table.columns[i]);
    }
    sql += ")";
    c.execute_utf8(sql);
    table.exists = true;
}

void Catalog::append_column(CatalogTable& table, std::u16string_view name, int type, int size) {
    CatalogColumn column{std::u16string(name), type, size, {}};
    if (table.exists) {
        Connection& c = require_connection();
        c.execute_utf8("ALTER TABLE " + c.dialect().quote_identifier(utf8_from_utf16(table.name)) + " ADD " +
                       column_definition(c, column));
    }
    table.columns.push_back(std::move(column));
}

}  // namespace ado
