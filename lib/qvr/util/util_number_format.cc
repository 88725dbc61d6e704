#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/locale_info.h"
#include "qvr/util/util_format.h"
#include "qvr/testing/process_state_testing.h"

namespace qvr {
namespace {

constexpr int kWidthMax = 100;
constexpr int kPrecisionMax = 40;

// The C library's "%.<p>f" or "%.<p>E" of `value`, always with '.'.
std::string printf_form(double value, int precision, bool exponent) {
    if (std::isnan(value)) return exponent ? "NAN" : "nan";
    if (std::isinf(value)) return std::string(value < 0 ? "-" : "") + (exponent ? "INF" : "inf");
    char buffer[512];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value,
                      exponent ? std::chars_format::scientific : std::chars_format::fixed, precision);
    std::string text(buffer, result.ptr);
    if (exponent) {
        const size_t e = text.find('e');
        if (e != std::string::npos) text[e] = 'E';
    }
    return text;
}

std::string justified(std::string text, bool left, bool zero, int width) {
    if (static_cast<int>(text.size()) >= width) return text;
    const size_t fill = static_cast<size_t>(width) - text.size();
    if (left) return text + std::string(fill, ' ');
    if (zero && std::isdigit(static_cast<unsigned char>(text.back()))) {
        const size_t sign = text[0] == '-' ? 1 : 0;
        return text.insert(sign, fill, '0');
    }
    return std::string(fill, ' ') + text;
}

// Groups the integer digits in threes when the padding blanks leave room for every
// separator; a partly grouped number would read as another value.
void insert_separators(std::string& text, char decimal, char separator, bool left) {
    const size_t first_digit = text.find_first_of("0123456789");
    if (first_digit == std::string::npos) return;
    size_t end = text.find(decimal, first_digit);
    if (end == std::string::npos) end = text.find_first_not_of("0123456789", first_digit);
    if (end == std::string::npos) end = text.size();
    const size_t digits = end - first_digit;
    const size_t needed = (digits - 1) / 3;
    if (needed == 0) return;
    const size_t free_blanks =
        left ? text.size() - 1 - text.find_last_not_of(' ') : text.find_first_not_of(' ');
    if (free_blanks < needed) return;
    std::string grouped;
    for (size_t i = 0; i < digits; ++i) {
        if (i > 0 && (digits - i) % 3 == 0) grouped += separator;
        grouped += text[first_digit + i];
    }
    text.replace(first_digit, digits, grouped);
    if (left)
        text.erase(text.size() - needed);
    else
        text.erase(0, needed);
}

// The user's number format is read once per process, as the user's settings are taken when
// a program starts.
struct UserLocale {
    std::mutex mutex;
    bool read = false;
    NumberLocale items;
};

UserLocale& user_locale() {
    static UserLocale cached;
    return cached;
}

}  // namespace

const NumberLocale& user_number_locale() {
    UserLocale& cached = user_locale();
    std::lock_guard lock(cached.mutex);
    if (!cached.read) {
        const platform::LocaleNumberFormat format = platform::read_user_number_format();
        cached.items.decimal_point = format.decimal_point;
        cached.items.thousands_separator = format.thousands_separator;
        cached.items.grouping = format.grouping;
        // No POSIX source for these two: a leading zero, two decimals.
        cached.items.digits = 2;
        cached.items.leading_zero = 1;
        cached.read = true;
    }
    return cached.items;
}

}  // namespace qvr

void qvr::testing::forget_user_number_locale() {
    UserLocale& cached = user_locale();
    std::lock_guard lock(cached.mutex);
    cached.read = false;
}

namespace qvr {

std::string format_locale_number(const NumberLocale& locale, bool left, bool zero, char separator, int width,
                                 int precision, double value) {
    width = std::clamp(width, 0, kWidthMax);
    precision = std::clamp(precision, 0, kPrecisionMax);
    std::string text = justified(printf_form(value, precision, false), left, zero, width);
    if (static_cast<int>(text.size()) > width) {
        for (int p = precision; p >= 0; --p) {
            text = justified(printf_form(value, p, true), left, zero, width);
            if (static_cast<int>(text.size()) <= width) break;
        }
        std::replace(text.begin(), text.end(), '.', locale.decimal_point);
        return text;
    }
    std::replace(text.begin(), text.end(), '.', locale.decimal_point);
    if (!zero && value > 999 && separator != 0 && !locale.grouping.empty() && locale.grouping[0] != '0')
        insert_separators(text, locale.decimal_point, separator, left);
    if (value < 1 && !locale.leading_zero) {
        const size_t decimal = text.find(locale.decimal_point);
        // Only a lone integer 0: "-10.5" keeps its digits.
        if (decimal != std::string::npos && decimal > 0 && text[decimal - 1] == '0' &&
            (decimal == 1 || !std::isdigit(static_cast<unsigned char>(text[decimal - 2])))) {
            text[decimal - 1] = ' ';
            if (left) text = text.substr(decimal) + ' ';
        }
    }
    return text;
}

}  // namespace qvr

namespace {

thread_local char t_number_text[128];

const char* keep(const std::string& text) {
    const size_t n = std::min(text.size(), sizeof t_number_text - 1);
    std::memcpy(t_number_text, text.data(), n);
    t_number_text[n] = 0;
    return t_number_text;
}

}  // namespace

char util_LocaleChar(int item) {
    const qvr::NumberLocale& locale = qvr::user_number_locale();
    switch (item) {
        case kLocaleDecimal:
            return locale.decimal_point;
        case kLocaleThousand:
            return locale.thousands_separator;
        case kLocaleGrouping:
            return locale.grouping.empty() ? 0 : locale.grouping[0];
        case kLocaleDigits:
            return static_cast<char>('0' + locale.digits);
        case kLocaleLeadingZero:
            return static_cast<char>('0' + locale.leading_zero);
        default:
            return 0;
    }
}

int util_LocaleNumber(int item) {
    const qvr::NumberLocale& locale = qvr::user_number_locale();
    switch (item) {
        case kLocaleDigits:
            return locale.digits;
        case kLocaleLeadingZero:
            return locale.leading_zero;
        case kLocaleGrouping:
            return std::atoi(locale.grouping.c_str());
        default:
            return 0;
    }
}

const char* util_FormatNumberSep(int justify, int pad, char separator, int width, int precision,
                                 double value) {
    return keep(qvr::format_locale_number(qvr::user_number_locale(), justify != 0, pad != 0, separator, width,
                                          precision, value));
}

const char* util_FormatNumberWidth(int justify, int pad, int width, int precision, double value) {
    return util_FormatNumberSep(justify, pad, qvr::user_number_locale().thousands_separator, width, precision,
                                value);
}

const char* util_FormatNumber(int justify, int pad, int width, double value) {
    int decimals = qvr::user_number_locale().digits;
    if (width < decimals + 3) decimals = std::max(0, width - 3);
    return util_FormatNumberWidth(justify, pad, width, decimals, value);
}
