#pragma once
// Little-endian fields of stored records, read and written byte by byte so that no record
// is ever reinterpreted through a cast. Callers check the span's size first; each accessor
// takes the field's offset into it.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace log_stores::le {

inline std::uint16_t u16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline std::uint32_t u32(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint32_t{b[at]} | (std::uint32_t{b[at + 1]} << 8) | (std::uint32_t{b[at + 2]} << 16) |
           (std::uint32_t{b[at + 3]} << 24);
}
inline std::int16_t i16(std::span<const std::uint8_t> b, std::size_t at) {
    return std::bit_cast<std::int16_t>(u16(b, at));
}
inline std::int32_t i32(std::span<const std::uint8_t> b, std::size_t at) {
    return std::bit_cast<std::int32_t>(u32(b, at));
}
inline float f32(std::span<const std::uint8_t> b, std::size_t at) { return std::bit_cast<float>(u32(b, at)); }

inline void put_u16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_u32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put_i16(std::span<std::uint8_t> b, std::size_t at, std::int16_t v) {
    put_u16(b, at, std::bit_cast<std::uint16_t>(v));
}
inline void put_i32(std::span<std::uint8_t> b, std::size_t at, std::int32_t v) {
    put_u32(b, at, std::bit_cast<std::uint32_t>(v));
}
inline void put_f32(std::span<std::uint8_t> b, std::size_t at, float v) { put_u32(b, at, std::bit_cast<std::uint32_t>(v)); }

}  // namespace log_stores::le
