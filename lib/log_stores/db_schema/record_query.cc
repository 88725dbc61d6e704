#include "log_stores/db_schema/record_query.h"

#include <algorithm>

#include "log_stores/db_schema/date_literal.h"
#include "log_stores/db_schema/sql_text.h"

namespace log_stores::db_schema {
namespace {

// The rank of a value's type in the order: NULL, numbers, dates, texts, anything else.
int type_rank(const ado::Variant& v) {
    switch (v.type()) {
        case ado::VarType::empty:
        case ado::VarType::null:
            return 0;
        case ado::VarType::boolean:
        case ado::VarType::i2:
        case ado::VarType::i4:
        case ado::VarType::i8:
        case ado::VarType::r4:
        case ado::VarType::r8:
            return 1;
        case ado::VarType::date:
            return 2;
        case ado::VarType::bstr:
            return 3;
        default:
            return 4;
    }
}

template <typename T>
int three_way(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

double number_of(const ado::Variant& v) {
    switch (v.type()) {
        case ado::VarType::r4:
        case ado::VarType::r8:
            return v.real_value();
        case ado::VarType::boolean:
            return v.bool_value();
        default:
            return static_cast<double>(v.int_value());
    }
}

std::string ordered_by(bool descending) {
    const char* dir = descending ? "DESC" : "ASC";
    return std::string(" ORDER BY DT ") + dir + ", MS " + dir;
}

std::string key_condition(int kind, RecordKey key, bool descending) {
    const std::string lit = date_literal(kind, key.seconds);
    const char* op = descending ? "<" : ">";
    return " WHERE ((DT = " + lit + " AND MS " + op + " " + std::to_string(key.milliseconds) + ") OR DT " +
           op + " " + lit + ") ";
}

}  // namespace

std::string limited_select(const ado::Dialect& dialect, std::string_view columns, std::string_view table,
                           std::string_view rest, std::optional<int> limit) {
    std::string out = "SELECT ";
    const bool top = limit && dialect.row_limit_is_top();
    if (top) out += "TOP " + std::to_string(*limit) + " ";
    out += columns;
    out += " FROM ";
    out += table;
    out += rest;
    if (limit && !top) out += " LIMIT " + std::to_string(*limit);
    return out;
}

std::string page_query(const ado::Dialect& dialect, int kind, const PageRequest& request) {
    std::string rest =
        request.after ? key_condition(kind, *request.after, request.descending) : std::string{};
    rest += ordered_by(request.descending);
    return limited_select(dialect, request.columns, run_table(dialect, request.prefix, "DATA"), rest,
                          request.limit > 0 ? std::optional<int>(request.limit) : std::nullopt);
}

std::string group_query(const ado::Dialect& dialect, int kind, std::string_view prefix,
                        std::string_view columns, RecordKey key) {
    return limited_select(
        dialect, columns, run_table(dialect, prefix, "DATA"),
        " WHERE DT = " + date_literal(kind, key.seconds) + " AND MS = " + std::to_string(key.milliseconds),
        std::nullopt);
}

std::string latest_key_query(const ado::Dialect& dialect, std::string_view prefix) {
    return limited_select(dialect, "DT, MS", run_table(dialect, prefix, "DATA"), ordered_by(true), 1);
}

std::string first_key_query(const ado::Dialect& dialect, std::string_view prefix) {
    return limited_select(dialect, "DT, MS", run_table(dialect, prefix, "DATA"), ordered_by(false), 1);
}

std::string count_from_query(const ado::Dialect& dialect, int kind, std::string_view prefix,
                             std::optional<RecordKey> from, std::optional<RecordKey> split) {
    const auto at_or_after = [&](RecordKey key) {
        const std::string dt = date_literal(kind, key.seconds);
        return "(DT > " + dt + " OR (DT = " + dt + " AND MS >= " + std::to_string(key.milliseconds) + "))";
    };
    std::string sql = "SELECT COUNT(*), ";
    sql += split ? "SUM(CASE WHEN " + at_or_after(*split) + " THEN 1 ELSE 0 END)" : std::string("0");
    sql += " FROM " + run_table(dialect, prefix, "DATA");
    if (from) sql += " WHERE " + at_or_after(*from);
    return sql;
}

PageCut cut_page(std::span<const RecordKey> keys, std::size_t limit) {
    if (limit == 0 || keys.size() < limit) return {keys.size(), false};
    std::size_t keep = keys.size();
    while (keep > 0 && keys[keep - 1] == keys.back()) --keep;
    return {keep, keep == 0};
}

int compare_values(const ado::Variant& a, const ado::Variant& b) {
    const int ra = type_rank(a), rb = type_rank(b);
    if (ra != rb) return three_way(ra, rb);
    switch (ra) {
        case 1: {
            const double x = number_of(a), y = number_of(b);
            // NaN never comes back from a DATA row (it is stored as NULL); order it first anyway.
            if (x != x || y != y) return three_way(x == x, y == y);
            return three_way(x, y);
        }
        case 2:
            return three_way(std::pair(a.date_value().seconds, a.date_value().nanoseconds),
                             std::pair(b.date_value().seconds, b.date_value().nanoseconds));
        case 3:
            return three_way(a.text_value(), b.text_value());
        default:
            return 0;
    }
}

void order_group(std::vector<std::vector<ado::Variant>>& rows, std::size_t first_column, bool descending) {
    std::stable_sort(rows.begin(), rows.end(), [&](const auto& x, const auto& y) {
        const std::size_t n = std::max(x.size(), y.size());
        for (std::size_t i = first_column; i < n; ++i) {
            if (i >= x.size()) return !descending;
            if (i >= y.size()) return descending;
            const int c = compare_values(x[i], y[i]);
            if (c != 0) return descending ? c > 0 : c < 0;
        }
        return false;
    });
}

}  // namespace log_stores::db_schema
