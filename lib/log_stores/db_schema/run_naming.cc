#include "log_stores/db_schema/run_naming.h"

#include <algorithm>
#include <cstdio>

#include "log_stores/db_schema/sql_text.h"
#include "log_stores/log_location.h"
#include "qvr/time/timestamp.h"

namespace log_stores::db_schema {

std::int32_t next_counter(std::optional<std::int64_t> highest) {
    if (!highest || *highest < 1) return 1;
    return static_cast<std::int32_t>(std::min<std::int64_t>(*highest + 1, kFirstDateSequence));
}

std::string base_prefix(std::string_view logger_name, std::string_view run_prefix) {
    std::string base(run_prefix.empty() ? logger_name : run_prefix);
    base += '_';
    SanitiseTableName(base);
    return base;
}

std::vector<PrefixTry> prefix_tries(const RunNaming& naming) {
    const std::string base = base_prefix(naming.logger_name, naming.run_prefix);
    std::vector<PrefixTry> tries;
    if (naming.plain_prefix && (!naming.run_prefix.empty() || naming.counter <= 1))
        tries.push_back({0, base, naming.counter});
    if (naming.date_prefix) {
        const std::tm t = time_GmTime(naming.start_seconds);
        const int year = t.tm_year + 1900, month = t.tm_mon + 1;
        char date[32];
        std::snprintf(date, sizeof date, "%04d%02d%02d_", year, month, t.tm_mday);
        tries.push_back({1, base + date, year * 10000 + month * 100 + t.tm_mday});
    }
    char counter[32];
    std::snprintf(counter, sizeof counter, "%08d_", naming.counter);
    tries.push_back({2, base + counter, naming.counter});
    return tries;
}

std::optional<PrefixTry> first_accepted(const std::vector<PrefixTry>& tries,
                                        const std::function<bool(const PrefixTry&)>& create) {
    for (const PrefixTry& t : tries)
        if (create(t)) return t;
    return std::nullopt;
}

std::string stored_prefix(std::string_view value) {
    const std::size_t end = value.find_last_not_of(' ');
    return std::string(end == std::string_view::npos ? std::string_view{} : value.substr(0, end + 1));
}

bool prefix_belongs(std::string_view table_prefix, std::string_view run_prefix) {
    if (run_prefix.empty()) return true;
    const std::string base = folded_column_name(base_prefix({}, run_prefix));
    return folded_column_name(table_prefix).starts_with(base);
}

}  // namespace log_stores::db_schema
