#include "platform/ado/select_shape.h"

#include <cctype>
#include <vector>

namespace ado {
namespace {

struct Token {
    std::string text;
    size_t begin = 0;
    size_t end = 0;
};

bool word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }

// Words, quoted names, string literals and single punctuation; nothing when a quote is open.
std::optional<std::vector<Token>> tokens(std::string_view s) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        const size_t begin = i;
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            const char close = c == '[' ? ']' : c;
            ++i;
            for (;;) {
                if (i >= s.size()) return std::nullopt;
                if (s[i] == close) {
                    if (i + 1 < s.size() && s[i + 1] == close && close != ']') {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
        } else if (word_char(c)) {
            while (i < s.size() && (word_char(s[i]) || s[i] == '.')) ++i;
        } else {
            ++i;
        }
        out.push_back({std::string(s.substr(begin, i - begin)), begin, i});
    }
    return out;
}

bool keyword(const Token& t, std::string_view word) {
    if (t.text.size() != word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(t.text[i])) != word[i]) return false;
    return true;
}

bool is_name(const Token& t) {
    const char c = t.text.front();
    return c == '"' || c == '`' || c == '[' || (word_char(c) && !std::isdigit(static_cast<unsigned char>(c)));
}

}  // namespace

bool is_table_name(std::string_view source) {
    const auto t = tokens(source);
    return t && t->size() == 1 && is_name(t->front()) && !keyword(t->front(), "SELECT");
}

std::optional<SelectShape> simple_select(std::string_view sql) {
    const auto t = tokens(sql);
    if (!t || t->size() < 4 || !keyword((*t)[0], "SELECT")) return std::nullopt;
    size_t i = 1;
    // The column list: '*' or names separated by commas.
    for (;;) {
        if (i >= t->size()) return std::nullopt;
        const Token& col = (*t)[i];
        if (col.text != "*" && (!is_name(col) || keyword(col, "FROM") || keyword(col, "DISTINCT") ||
                                keyword(col, "TOP")))
            return std::nullopt;
        ++i;
        if (i < t->size() && (*t)[i].text == ",") {
            ++i;
            continue;
        }
        break;
    }
    if (i + 1 >= t->size() || !keyword((*t)[i], "FROM") || !is_name((*t)[i + 1])) return std::nullopt;
    SelectShape shape;
    shape.table = (*t)[i + 1].text;
    i += 2;
    if (i == t->size()) return shape;
    size_t where_begin = std::string_view::npos;
    if (keyword((*t)[i], "WHERE")) {
        where_begin = (*t)[i].end;
        ++i;
    }
    size_t where_end = sql.size();
    for (; i < t->size(); ++i) {
        const Token& k = (*t)[i];
        if (keyword(k, "GROUP") || keyword(k, "HAVING") || keyword(k, "UNION") || keyword(k, "JOIN") ||
            keyword(k, "LIMIT") || k.text == ";" || (where_begin == std::string_view::npos && !keyword(k, "ORDER")))
            return std::nullopt;
        if (keyword(k, "ORDER")) {
            where_end = k.begin;
            break;
        }
    }
    if (where_begin != std::string_view::npos) {
        std::string_view w = sql.substr(where_begin, where_end - where_begin);
        while (!w.empty() && std::isspace(static_cast<unsigned char>(w.front()))) w.remove_prefix(1);
        while (!w.empty() && std::isspace(static_cast<unsigned char>(w.back()))) w.remove_suffix(1);
        if (w.empty()) return std::nullopt;
        shape.where = std::string(w);
    }
    return shape;
}

}  // namespace ado
