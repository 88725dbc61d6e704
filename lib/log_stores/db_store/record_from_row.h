#pragma once
// A record of the run file layout built from one DATA row as a query handed it back.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "log_stores/db_schema/record_query.h"
#include "log_stores/log_header.h"
#include "platform/ado/variant.h"

namespace log_stores::db_store {

// The (DT, MS) of a row whose DT is column `dt`; nothing when DT is not a date of the stamps'
// range or MS is not a number.
std::optional<db_schema::RecordKey> row_key(std::span<const ado::Variant> row, std::size_t dt);

// The row's columns: `extra` caller's columns, then DT, MS, TX (only when `star`, the whole
// DATA row), LL and LV with sigChange, and with `star` one column per channel. Every non-NULL
// channel comes back as an analog value (0x80), NULL or a value that is no number as bad
// (0x20); without `star` every channel is bad. The extra columns go to `extras` as pairs of
// flags and float32. Null on success, else the failure's context.
const char* record_from_row(const LogHeader& header, std::span<const ado::Variant> row, std::size_t extra, bool star,
                            std::span<std::uint8_t> record, std::span<std::uint8_t> extras);

}  // namespace log_stores::db_store
