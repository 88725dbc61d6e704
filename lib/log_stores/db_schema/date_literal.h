#pragma once
// Times in the logger tables. A date value is the zone-free breakdown of a stamp's seconds,
// which count UTC: the stored dates are UTC wall-clock values whatever the machine's zone or
// "DatabaseUTC" say, so they never shift with the zone and the range literals (built from the
// same breakdown) compare with them exactly. DT holds whole seconds, MS the milliseconds.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/date_value.h"
#include "platform/ado/dialect.h"
#include "platform/ado/hresult.h"
#include "qvr/time/timestamp.h"

namespace log_stores::db_schema {

// The date value of a stamp's seconds (its sub-second part dropped).
ado::DateValue date_value(std::int32_t seconds);
// The seconds of a stored date value (its fraction dropped); nothing for a date outside the
// stamps' range (1970-01-01 to 2106-02-07 06:28:15).
std::optional<std::int32_t> seconds_of_date(ado::DateValue date);

// Kind 0 "{ ts 'YYYY-MM-DD hh:mm:ss.000' }", 1 "{ ts 'YYYY/MM/DD hh:mm:ss.000' }",
// 2 "#MM/DD/YYYY hh:mm:ss#"; the empty text for any other kind.
std::string date_literal(int kind, std::int32_t seconds);

// The time-range condition with both ends exclusive: " WHERE " and the lower part
// "((DT = L AND MS > l) OR DT > L) ", the upper part "((DT = U AND MS < u) OR DT < U) ", joined
// by " AND "; empty without bounds. lit() is the kind's literal of the seconds.
std::string range_condition(int kind, const std::optional<TimeStamp>& lower,
                            const std::optional<TimeStamp>& upper);

// What one attempt of a statement with a time literal came to. Only a refusal for the
// literal's form (its syntax or a conversion) lets the next kind be tried; any other failure
// (a busy database, a lost connection) is the operation's failure and teaches nothing about
// the kinds.
enum class Attempt { accepted, form_refused, failed };
Attempt judge_failure(ado::HRESULT code);
// The same judged from the last-error value the access objects leave on failure.
Attempt judge_last_error(int last_error);

// The kinds a store tries, lowest to highest: 0..2 when made, 2..2 for a Jet connection
// string; the first kind accepted becomes the only one.
class LiteralKinds {
  public:
    static LiteralKinds for_connection(std::string_view connection_string);
    int lowest() const { return lowest_; }
    int highest() const { return highest_; }
    // The kinds of the range that the engine reads as dates (every kind of the range for an
    // engine this system does not know, and for a range that holds none of the engine's).
    std::vector<int> candidates(const ado::Dialect& dialect) const;
    void accept(int kind) { lowest_ = highest_ = kind; }

  private:
    LiteralKinds(int lowest, int highest) : lowest_(lowest), highest_(highest) {}
    int lowest_;
    int highest_;
};

// One statement with a time literal, sent with the kinds in turn: `attempt` builds and sends
// it with the kind. Stops at the first acceptance (which fixes the kind: true) or at a failure
// that is not about the literal's form (false, the kinds unchanged).
bool with_literal_kinds(LiteralKinds& kinds, const ado::Dialect& dialect,
                        const std::function<Attempt(int kind)>& attempt);

}  // namespace log_stores::db_schema
