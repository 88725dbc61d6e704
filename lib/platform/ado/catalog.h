#pragma once
// The schema side: tables looked up with SQLTables, new tables and columns made from ADO
// type numbers through the dialect, and new SQLite database files. Server providers cannot
// make databases here ("not supported"), as the platform's catalog cannot for SQL Server.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ado/variant.h"

namespace ado {

class Connection;

struct CatalogColumn {
    std::u16string name;
    int type = 0;
    int size = 0;
    // Provider properties ("AutoIncrement"), as set.
    std::map<std::u16string, Variant> properties;
};

// A table of the catalog, or one being described before it is appended.
struct CatalogTable {
    std::u16string name;
    std::vector<CatalogColumn> columns;
    bool exists = false;  // appended to, or found in, the database

    CatalogColumn* column(std::u16string_view name);
};

class Catalog {
  public:
    Catalog();
    ~Catalog();

    // Opens the catalog's connection (replacing any): the process's shared one for that string.
    void set_active_connection(std::u16string_view connection_string);
    // Makes a new database from the string and connects to it.
    void create(std::u16string_view connection_string);
    bool connected() const;
    std::shared_ptr<Connection> connection() const { return connection_; }

    int64_t table_count();
    // The table of that name, with its columns; nothing when there is none.
    std::optional<CatalogTable> find_table(std::u16string_view name);
    // CREATE TABLE from the table's columns; a column whose "AutoIncrement" property is
    // true becomes the engine's auto-increment key.
    void append_table(CatalogTable& table);
    // Adds a column to a table: in the database when the table exists, else to its list.
    void append_column(CatalogTable& table, std::u16string_view name, int type, int size);

  private:
    Connection& require_connection() const;
    std::shared_ptr<Connection> connection_;
};

}  // namespace ado
