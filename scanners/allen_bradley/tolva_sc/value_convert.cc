#include "tolva_sc/value_convert.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "tolva_ex/sub_elements.h"

namespace tolva {

namespace {

std::optional<ElementAccess> bit_of_word0(int bit) {
    if (bit < 0 || bit > 15) return std::nullopt;
    return ElementAccess{ElementAccess::Kind::bit, 0, static_cast<uint8_t>(bit)};
}

uint32_t load_float_bits(std::span<const uint8_t> e, bool swap) {
    const uint32_t low = static_cast<uint16_t>(load_word(e, 0));
    const uint32_t high = static_cast<uint16_t>(load_word(e, 1));
    return swap ? (low << 16 | high) : (high << 16 | low);
}

void store_float_bits(std::span<uint8_t> e, uint32_t bits, bool swap) {
    const auto low = static_cast<int16_t>(bits & 0xFFFF);
    const auto high = static_cast<int16_t>(bits >> 16);
    store_word(e, 0, swap ? high : low);
    store_word(e, 1, swap ? low : high);
}

}  // namespace

int16_t load_word(std::span<const uint8_t> bytes, size_t word) {
    return static_cast<int16_t>(bytes[2 * word] | bytes[2 * word + 1] << 8);
}

void store_word(std::span<uint8_t> bytes, size_t word, int16_t value) {
    const auto u = static_cast<uint16_t>(value);
    bytes[2 * word] = static_cast<uint8_t>(u & 0xFF);
    bytes[2 * word + 1] = static_cast<uint8_t>(u >> 8);
}

std::optional<ElementAccess> element_access(int file_type, bool digital, const NormalAddress& address,
                                            int mnemonic) {
    switch (file_type) {
        case file_type::kBinary:
            return bit_of_word0(address.sub_element);
        case file_type::kTimer:
        case file_type::kCounter:
        case file_type::kControl: {
            const auto entry = sub_element_entry(file_type, mnemonic);
            if (!entry) return std::nullopt;
            const int n = entry_index(*entry);
            if (is_word_entry(*entry)) {
                if (n >= element_size(file_type) / 2) return std::nullopt;
                return ElementAccess{ElementAccess::Kind::word, static_cast<uint8_t>(n), 0};
            }
            return bit_of_word0(n);
        }
        case file_type::kInteger:
            return ElementAccess{ElementAccess::Kind::word, 0, 0};
        case file_type::kFloat:
            return ElementAccess{ElementAccess::Kind::real, 0, 0};
        case file_type::kOutput:
        case file_type::kInput:
        case file_type::kStatus:
        case file_type::kWord:
            if (digital) return bit_of_word0(address.sub_element);
            if (address.sub_element != 0 && address.sub_element != -1) return std::nullopt;
            return ElementAccess{ElementAccess::Kind::word, 0, 0};
        default:
            return std::nullopt;
    }
}

float read_element(std::span<const uint8_t> element, const ElementAccess& access, bool swap_float_words) {
    switch (access.kind) {
        case ElementAccess::Kind::real:
            return std::bit_cast<float>(load_float_bits(element, swap_float_words));
        case ElementAccess::Kind::bit:
            return (static_cast<uint16_t>(load_word(element, access.word)) >> access.bit & 1u) != 0 ? 1.0f
                                                                                                    : 0.0f;
        case ElementAccess::Kind::word:
            break;
    }
    return static_cast<float>(load_word(element, access.word));
}

Stored write_element(std::span<uint8_t> element, const ElementAccess& access, float value,
                     bool swap_float_words) {
    if (access.kind == ElementAccess::Kind::real) {
        const uint32_t old_bits = load_float_bits(element, swap_float_words);
        const uint32_t new_bits = std::bit_cast<uint32_t>(value);
        if (old_bits == new_bits || std::bit_cast<float>(old_bits) == value) return Stored::same;
        store_float_bits(element, new_bits, swap_float_words);
        return Stored::changed;
    }
    if (!std::isfinite(value)) return Stored::refused;
    const int16_t old_word = load_word(element, access.word);
    int16_t new_word = 0;
    if (access.kind == ElementAccess::Kind::bit) {
        const auto mask = static_cast<uint16_t>(1u << access.bit);
        const auto bits = static_cast<uint16_t>(old_word);
        new_word = static_cast<int16_t>(std::trunc(value) != 0.0f ? (bits | mask) : (bits & ~mask));
    } else {
        const float cut = std::trunc(value);
        new_word = cut >= 32767.0f    ? int16_t{32767}
                   : cut <= -32768.0f ? int16_t{-32768}
                                      : static_cast<int16_t>(cut);
    }
    store_word(element, access.word, new_word);
    return new_word != old_word ? Stored::changed : Stored::same;
}

}  // namespace tolva
