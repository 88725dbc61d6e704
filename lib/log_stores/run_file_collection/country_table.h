#pragma once
// The countries a logger's folder may be filed under ("/SITE/FRANCE/L1"): a country name in
// the path marks where the site's own folders end and the logger's begin.
#include <cstddef>
#include <span>

namespace log_stores {

struct Country {
    const char* name;  // upper-case English, Windows-1252; null in the end entry
    const char* code;  // ISO 3166-1 alpha-2
    float latitude;    // degrees; 999 in the end entry
    float longitude;
};

inline constexpr std::size_t kCountryCount = 240;

// The 240 countries in table order, then the end entry (no name, 999 / 999).
std::span<const Country> country_table();

// The name of country `index` (0-based), or null past the end.
const char* CountryName(std::size_t index);

}  // namespace log_stores
