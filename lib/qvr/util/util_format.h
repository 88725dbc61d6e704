#pragma once
// Text formatting of the runtime library: a compact formatter of its own (single-precision
// numbers with at most 7 significant digits) and number texts for display in the user's
// locale. Every conversion is independent of the process's current locale.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace qvr {

// One argument of util_FormatText, typed by the caller's argument.
struct FormatArg {
    enum class Kind { integer, real, text };
    Kind kind = Kind::integer;
    int64_t integer = 0;
    double real = 0;
    std::string_view text;
};

template <class T>
FormatArg make_format_arg(const T& value) {
    FormatArg arg;
    if constexpr (std::is_same_v<T, bool> || std::is_integral_v<T> || std::is_enum_v<T>) {
        arg.kind = FormatArg::Kind::integer;
        arg.integer = static_cast<int64_t>(value);
    } else if constexpr (std::is_floating_point_v<T>) {
        arg.kind = FormatArg::Kind::real;
        arg.real = static_cast<double>(value);
    } else if constexpr (std::is_convertible_v<const T&, const char*>) {
        arg.kind = FormatArg::Kind::text;
        const char* text = value;
        arg.text = text != nullptr ? std::string_view(text) : std::string_view();
    } else {
        static_assert(std::is_convertible_v<const T&, std::string_view>,
                      "util_FormatText: unsupported argument");
        arg.kind = FormatArg::Kind::text;
        arg.text = std::string_view(value);
    }
    return arg;
}

// The engine of util_FormatText. Returns the length written (without the zero).
int format_text(char* out, size_t capacity, const char* format, std::span<const FormatArg> args);

// The locale items the display formatting uses.
struct NumberLocale {
    char decimal_point = '.';
    char thousands_separator = ',';
    std::string grouping = "3;0";
    int digits = 2;        // decimals of a number with no precision of its own
    int leading_zero = 1;  // 1: "0.5", 0: ".5"
};

// The user's locale items, read once per process (thread-safe).
const NumberLocale& user_number_locale();

// The display formatting of util_FormatNumberSep for given locale items.
std::string format_locale_number(const NumberLocale& locale, bool left_justify, bool zero_pad, char separator,
                                 int width, int precision, double value);

}  // namespace qvr

// Writes `format` with its conversions expanded into `out` (at most capacity - 1 characters
// and a terminating zero). Conversions: %d (integer), %s (text), %e %f %g (numbers, single
// precision), with '-', '0', width and precision, each of which may be '*' (an integer
// argument); "%%" is a percent sign; unknown conversions are skipped. Returns the length.
template <class... Args>
int util_FormatText(char* out, size_t capacity, const char* format, const Args&... args) {
    const std::array<qvr::FormatArg, sizeof...(Args)> list{qvr::make_format_arg(args)...};
    return qvr::format_text(out, capacity, format, list);
}

// Locale items, by their classic numbers.
inline constexpr int kLocaleDecimal = 0x0E;
inline constexpr int kLocaleThousand = 0x0F;
inline constexpr int kLocaleGrouping = 0x10;
inline constexpr int kLocaleDigits = 0x11;
inline constexpr int kLocaleLeadingZero = 0x12;

// First character of a locale item (0 for an unknown item or an empty one).
char util_LocaleChar(int item);
// A locale item read as a decimal number (0 when it is not one).
int util_LocaleNumber(int item);

// Display texts of a number in a per-thread buffer, valid until the thread's next call of
// any of the three. `justify` non-zero left-justifies, `pad` non-zero pads with zeros.
// A text wider than `width` turns to the exponent form; with free blanks the digits left
// of the decimal character are grouped in threes by `separator` (0: none).
const char* util_FormatNumberSep(int justify, int pad, char separator, int width, int precision,
                                 double value);
// The same with the locale's thousands separator.
const char* util_FormatNumberWidth(int justify, int pad, int width, int precision, double value);
// The same with the locale's number of decimals (fewer when the width is below decimals + 3).
const char* util_FormatNumber(int justify, int pad, int width, double value);
