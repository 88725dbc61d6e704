#pragma once
// Whether a recordset's source can be written back: a table, or "SELECT columns FROM one
// table [WHERE ...] [ORDER BY ...]" with plain column names or '*'.
#include <optional>
#include <string>
#include <string_view>

namespace ado {

struct SelectShape {
    std::string table;  // as written (quotes kept)
    std::string where;  // the condition without the keyword; empty when none
};

// A bare table name (one identifier, optionally quoted or bracketed).
bool is_table_name(std::string_view source);
std::optional<SelectShape> simple_select(std::string_view sql);

}  // namespace ado
