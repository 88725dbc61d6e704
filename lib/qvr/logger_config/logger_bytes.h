#pragma once
// Little-endian values at byte offsets of a record, read and written one byte at a time so
// that no field is reached through a cast to an unaligned structure.
#include <cstddef>
#include <cstdint>
#include <span>

namespace qvr::logger {

inline std::uint32_t get_u32(std::span<const std::uint8_t> r, std::size_t at) {
    return std::uint32_t{r[at]} | std::uint32_t{r[at + 1]} << 8 | std::uint32_t{r[at + 2]} << 16 |
           std::uint32_t{r[at + 3]} << 24;
}
inline std::int32_t get_i32(std::span<const std::uint8_t> r, std::size_t at) {
    return static_cast<std::int32_t>(get_u32(r, at));
}
inline void put_u32(std::span<std::uint8_t> r, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) r[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace qvr::logger
