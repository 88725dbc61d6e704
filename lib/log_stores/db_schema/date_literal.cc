#include "log_stores/db_schema/date_literal.h"

#include <cctype>
#include <cstdio>
#include <limits>

#include "log_stores/db_access/com_error_report.h"

namespace log_stores::db_schema {
namespace {

constexpr int kLowestKind = 0;
constexpr int kHighestKind = 2;

bool starts_with_no_case(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) !=
            std::toupper(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

std::string literal_part(int kind, const TimeStamp& bound, std::string_view op) {
    const std::string lit = date_literal(kind, bound.seconds);
    return "((DT = " + lit + " AND MS " + std::string(op) + " " + std::to_string(bound.milliseconds) +
           ") OR DT " + std::string(op) + " " + lit + ") ";
}

}  // namespace

ado::DateValue date_value(std::int32_t seconds) {
    // The seconds count as unsigned, as every breakdown of a stamp does.
    return ado::DateValue{static_cast<std::int64_t>(static_cast<std::uint32_t>(seconds)), 0};
}

std::optional<std::int32_t> seconds_of_date(ado::DateValue date) {
    if (date.seconds < 0 || date.seconds > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(date.seconds));
}

std::string date_literal(int kind, std::int32_t seconds) {
    const std::tm t = time_GmTime(seconds);
    const int year = t.tm_year + 1900, month = t.tm_mon + 1;
    char text[64];
    switch (kind) {
        case 0:
            std::snprintf(text, sizeof text, "{ ts '%04d-%02d-%02d %02d:%02d:%02d.000' }", year, month,
                          t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
            return text;
        case 1:
            std::snprintf(text, sizeof text, "{ ts '%04d/%02d/%02d %02d:%02d:%02d.000' }", year, month,
                          t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
            return text;
        case 2:
            std::snprintf(text, sizeof text, "#%02d/%02d/%04d %02d:%02d:%02d#", month, t.tm_mday, year,
                          t.tm_hour, t.tm_min, t.tm_sec);
            return text;
        default:
            return {};
    }
}

std::string range_condition(int kind, const std::optional<TimeStamp>& lower,
                            const std::optional<TimeStamp>& upper) {
    if (!lower && !upper) return {};
    std::string out = " WHERE ";
    if (lower) out += literal_part(kind, *lower, ">");
    if (lower && upper) out += " AND ";
    if (upper) out += literal_part(kind, *upper, "<");
    return out;
}

Attempt judge_failure(ado::HRESULT code) {
    return code == ado::kSyntax || code == ado::kConversion ? Attempt::form_refused : Attempt::failed;
}

Attempt judge_last_error(int last_error) {
    return last_error != 0 && (last_error == last_error_of(ado::kSyntax) ||
                               last_error == last_error_of(ado::kConversion))
               ? Attempt::form_refused
               : Attempt::failed;
}

LiteralKinds LiteralKinds::for_connection(std::string_view connection_string) {
    if (starts_with_no_case(connection_string, "PROVIDER=MICROSOFT.JET.OLEDB")) return {2, 2};
    return {kLowestKind, kHighestKind};
}

std::vector<int> LiteralKinds::candidates(const ado::Dialect& dialect) const {
    std::vector<int> all, valid;
    for (int kind = lowest_; kind <= highest_; ++kind) {
        all.push_back(kind);
        if (dialect.date_literal_valid(kind)) valid.push_back(kind);
    }
    if (dialect.engine() == ado::Engine::other || valid.empty()) return all;
    return valid;
}

bool with_literal_kinds(LiteralKinds& kinds, const ado::Dialect& dialect,
                        const std::function<Attempt(int kind)>& attempt) {
    for (const int kind : kinds.candidates(dialect)) {
        const Attempt result = attempt(kind);
        if (result == Attempt::accepted) {
            kinds.accept(kind);
            return true;
        }
        if (result == Attempt::failed) return false;
    }
    return false;
}

}  // namespace log_stores::db_schema
