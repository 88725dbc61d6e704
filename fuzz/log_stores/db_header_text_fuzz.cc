// Header texts come from the logger's text file, which anyone may edit: any bytes split into
// a header and predefined lines drawn from the text itself, each cut to its column whole.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "log_stores/db_schema/data_row.h"
#include "log_stores/db_schema/header_text.h"
#include "log_stores/db_schema/sql_text.h"
#include "platform/ado/dialect.h"

using namespace log_stores::db_schema;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const HeaderTextParts parts = split_header_text(text);
    if (parts.header) {
        if (text.find("[HEADER]\r\n") == std::string_view::npos) __builtin_trap();
        if (text.find(*parts.header) == std::string_view::npos) __builtin_trap();
        if (parts.header->find("\r\n[PREDEFINED]") != std::string::npos) __builtin_trap();
        const std::string cut = cut_to_characters(*parts.header, kTextColumnSize);
        if (cut.size() > parts.header->size() || parts.header->compare(0, cut.size(), cut) != 0) __builtin_trap();
        (void)column_text(*parts.header, kTextColumnSize);
    } else if (!parts.predefined.empty()) {
        __builtin_trap();
    }
    const ado::Dialect maria(ado::Engine::mariadb);
    for (const std::string& line : parts.predefined) {
        if (line.empty() || line.find("\r\n") != std::string::npos) __builtin_trap();
        if (text.find(line) == std::string_view::npos) __builtin_trap();
        const std::string literal = text_literal(maria, cut_to_characters(line, kTextColumnSize));
        if (literal.size() < 2 || literal.front() != '\'' || literal.back() != '\'') __builtin_trap();
    }
    return 0;
}
