#include "controller/data_address.h"

#include <array>
#include <cctype>
#include <charconv>

namespace sim_controller {

namespace {

constexpr std::string_view kLetters = "OISBTCRNFW";

struct Named {
    std::string_view name;
    uint8_t word;
    int bit;  // -1: the whole word
};

// Where the named parts of timers, counters and controls live in their three words.
constexpr std::array<Named, 4> kWords{{{"PRE", 1, -1}, {"ACC", 2, -1}, {"LEN", 1, -1}, {"POS", 2, -1}}};
constexpr std::array<Named, 14> kBits{{{"EN", 0, 15},
                                       {"TT", 0, 14},
                                       {"DN", 0, 13},
                                       {"CU", 0, 15},
                                       {"CD", 0, 14},
                                       {"OV", 0, 12},
                                       {"UN", 0, 11},
                                       {"UA", 0, 10},
                                       {"EU", 0, 14},
                                       {"EM", 0, 12},
                                       {"ER", 0, 11},
                                       {"UL", 0, 10},
                                       {"IN", 0, 9},
                                       {"FD", 0, 8}}};

std::optional<unsigned> number(std::string_view& text) {
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end == text.data()) return std::nullopt;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return v;
}

template <size_t N>
const Named* find(const std::array<Named, N>& table, std::string_view name) {
    for (const auto& n : table) {
        if (n.name == name) return &n;
    }
    return nullptr;
}

}  // namespace

int file_element_size(uint8_t file_type) {
    switch (file_type) {
        case 4:
        case 5:
        case 6:
            return 6;
        case 8:
            return 4;
        default:
            return 2;
    }
}

char file_letter(uint8_t file_type) {
    return file_type < kLetters.size() ? kLetters[file_type] : '?';
}

std::optional<DataAddress> parse_data_address(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const size_t type = kLetters.find(text[0]);
    if (type == std::string_view::npos) return std::nullopt;
    text.remove_prefix(1);
    DataAddress a;
    a.file_type = static_cast<uint8_t>(type);
    if (!text.empty() && text[0] == ':' && type <= 2) {
        a.file = static_cast<uint16_t>(type);
    } else {
        const auto file = number(text);
        if (!file || *file > 0xFFFF) return std::nullopt;
        a.file = static_cast<uint16_t>(*file);
    }
    if (text.empty() || text[0] != ':') return std::nullopt;
    text.remove_prefix(1);
    const auto element = number(text);
    if (!element || *element > 0xFFFF) return std::nullopt;
    a.element = static_cast<uint16_t>(*element);
    a.real = a.file_type == 8;
    if (text.empty()) return a;
    const char sep = text[0];
    text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    a.real = false;
    const int words = file_element_size(a.file_type) / 2;
    if (std::isdigit(static_cast<unsigned char>(text[0]))) {
        const auto n = number(text);
        if (!n || !text.empty()) return std::nullopt;
        if (sep == '.') {
            if (*n >= static_cast<unsigned>(words)) return std::nullopt;
            a.word = static_cast<uint8_t>(*n);
            return a;
        }
        if (sep != '/') return std::nullopt;
        // Bit numbers past 15 run on into the next elements of a one-word file ("B3:0/35").
        if (*n > 15 && words != 1) return std::nullopt;
        if (a.element + *n / 16 > 0xFFFF) return std::nullopt;
        a.element = static_cast<uint16_t>(a.element + *n / 16);
        a.bit = static_cast<uint8_t>(*n % 16);
        return a;
    }
    const Named* named = sep == '.' ? find(kWords, text) : sep == '/' ? find(kBits, text) : nullptr;
    if (!named || words < 3) return std::nullopt;
    a.word = named->word;
    if (named->bit >= 0) a.bit = static_cast<uint8_t>(named->bit);
    return a;
}

std::string format_data_address(const DataAddress& a) {
    std::string text(1, file_letter(a.file_type));
    text += std::to_string(a.file) + ":" + std::to_string(a.element);
    if (a.bit) {
        if (a.word != 0) text += "." + std::to_string(a.word);
        text += "/" + std::to_string(*a.bit);
    } else if (a.word != 0) {
        text += "." + std::to_string(a.word);
    }
    return text;
}

}  // namespace sim_controller
