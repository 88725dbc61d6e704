#pragma once
// The key search replication takes its pieces with: `key` found anywhere in `text` (letter
// case ignored, the key's own punctuation included), its value running to the next ';' or the
// end. Nothing when the key is absent or the value is longer than `limit` characters.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace log_stores::db_replication {

inline constexpr std::size_t kMaxPieceLength = 100;

std::optional<std::string> connection_key_value(std::string_view text, std::string_view key,
                                                std::size_t limit = kMaxPieceLength);

}  // namespace log_stores::db_replication
