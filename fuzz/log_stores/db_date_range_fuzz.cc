// Date literals, ranges and page queries over any stamps (negative, 0, 2038, the ends of the
// unsigned range) and any kind: fixed-form texts, dates that give back their stamp, pages cut
// on whole groups.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "log_stores/db_schema/date_literal.h"
#include "log_stores/db_schema/record_query.h"
#include "platform/ado/dialect.h"

using namespace log_stores::db_schema;

namespace {

std::int32_t i32(const uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return static_cast<std::int32_t>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 12) return 0;
    const int kind = static_cast<int>(static_cast<int8_t>(data[0])) % 5;
    const std::int32_t a = i32(data + 1), b = i32(data + 5);
    const auto ms = static_cast<std::int16_t>(data[9] | data[10] << 8);
    const std::string lit = date_literal(kind, a);
    const std::size_t expected = kind == 0 || kind == 1 ? 32 : kind == 2 ? 21 : 0;
    if (lit.size() != expected) __builtin_trap();
    if (seconds_of_date(date_value(a)) != a) __builtin_trap();
    const TimeStamp lo{a, ms, 0}, hi{b, 0, 0};
    const std::string both = range_condition(kind, lo, hi);
    if (both.rfind(" WHERE ", 0) != 0 || both.find(" AND ((DT") == std::string::npos) __builtin_trap();
    if (range_condition(kind, std::nullopt, std::nullopt) != "") __builtin_trap();
    const ado::Dialect dialect(static_cast<ado::Engine>(data[11] % 5));
    auto kinds = LiteralKinds::for_connection(data[11] & 0x80 ? "Provider=Microsoft.Jet.OLEDB.4.0" : "Provider=X");
    for (const int k : kinds.candidates(dialect))
        if (k < kinds.lowest() || k > kinds.highest()) __builtin_trap();
    (void)page_query(dialect, kind, {"P_", "*", RecordKey{a, ms}, data[9], (data[10] & 1) != 0});
    (void)group_query(dialect, kind, "P_", "*", {b, ms});
    // The rest: keys of a fetched page, in order, cut on a whole group.
    std::vector<RecordKey> keys;
    for (std::size_t i = 12; i < size; ++i) keys.push_back({static_cast<std::int32_t>(data[i] >> 4), data[i] & 3});
    std::sort(keys.begin(), keys.end(), [](const RecordKey& x, const RecordKey& y) {
        return x.seconds != y.seconds ? x.seconds < y.seconds : x.milliseconds < y.milliseconds;
    });
    const std::size_t limit = data[9] % 16;
    const PageCut cut = cut_page(keys, limit);
    if (cut.keep > keys.size()) __builtin_trap();
    if (cut.whole_group && cut.keep != 0) __builtin_trap();
    if (limit != 0 && keys.size() >= limit && cut.keep > 0 && cut.keep < keys.size() &&
        keys[cut.keep - 1] == keys[cut.keep])
        __builtin_trap();
    return 0;
}
