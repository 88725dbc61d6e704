#include "TOLVA_CF/logic/printout_columns.h"

#include <locale.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace tolva::cf::printout_columns {

namespace {

locale_t c_locale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c != static_cast<locale_t>(nullptr) ? c : LC_GLOBAL_LOCALE;
}

}  // namespace

// The configuration program runs in the user's locale; the printout's numbers do not.
CLocaleScope::CLocaleScope() : previous_(uselocale(c_locale())) {}

CLocaleScope::~CLocaleScope() {
    uselocale(static_cast<locale_t>(previous_));
}

void appendf(std::string& out, const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    int length = 0;
    {
        const CLocaleScope c_numbers;
        length = std::vsnprintf(buffer, sizeof buffer, format, args);
    }
    va_end(args);
    if (length > 0) out.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer - 1));
}

std::string column_text(std::string_view text, std::size_t width) {
    text = text.substr(0, text.find('\0'));
    std::string out(text.substr(0, width));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return out;
}

}  // namespace tolva::cf::printout_columns
