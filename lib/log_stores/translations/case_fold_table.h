#pragma once
#include <array>

namespace log_stores::translations {

struct CaseFoldPair {
    char32_t from;
    char32_t to;
};
extern const std::array<CaseFoldPair, 1454> kCaseFoldPairs;

}  // namespace log_stores::translations
