#pragma once
// The sequence number and table prefix of a new run. Texts are UTF-8.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace log_stores::db_schema {

// Sequences of this value and above are start dates (yyyymmdd), not counters.
inline constexpr std::int32_t kFirstDateSequence = 19000101;

// The counter of the next run from the highest counter sequence of the logger (nothing when
// the logger has none): one more, at least 1.
std::int32_t next_counter(std::optional<std::int64_t> highest);

// The collection's run name prefix, or the logger name when it is empty, with "_" appended,
// through SanitiseTableName.
std::string base_prefix(std::string_view logger_name, std::string_view run_prefix);

struct RunNaming {
    std::string_view logger_name;
    std::string_view run_prefix;  // the collection's; may be empty
    bool plain_prefix = false;    // the caller allows the base prefix alone
    bool date_prefix = false;     // the caller allows the start date as suffix
    std::int32_t start_seconds = 0;
    std::int32_t counter = 1;
};

struct PrefixTry {
    int number = 0;  // 0 plain, 1 date, 2 counter
    std::string prefix;
    std::int32_t sequence = 0;  // the run's sequence number when this try is taken
};

// The tries in order: 0 the base prefix (only with the plain-prefix flag, and with a run name
// prefix or counter 1), 1 the start date "%04d%02d%02d_" (only with the date-prefix flag),
// 2 the counter "%08d_". The last one is always there.
std::vector<PrefixTry> prefix_tries(const RunNaming& naming);

// The first try whose CHANNELS table `create` makes; nothing when even the counter's is
// refused ("CAN'T CREATE CHANNELS TABLE").
std::optional<PrefixTry> first_accepted(const std::vector<PrefixTry>& tries,
                                        const std::function<bool(const PrefixTry&)>& create);

// A stored sTablePrefix without the blanks a char(255) column pads it with.
std::string stored_prefix(std::string_view value);
// Whether a run's table prefix belongs to the collection's run name prefix: an empty one
// passes every run; else the table prefix begins (letter case ignored) with the base prefix
// the collection makes its runs with.
bool prefix_belongs(std::string_view table_prefix, std::string_view run_prefix);

}  // namespace log_stores::db_schema
