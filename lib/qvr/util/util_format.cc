#include "qvr/util/util_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace qvr {
namespace {

constexpr int kSignificant = 7;
constexpr int kDefaultPrecision = 6;

struct Conversion {
    bool left = false;
    bool zero = false;
    int width = -1;      // -1: none
    int precision = -1;  // -1: none
};

// The value rounded to `significant` digits: the digits and the decimal exponent of the first.
struct Digits {
    std::string digits;
    int exponent = 0;
};

Digits significant_digits(double magnitude, int significant) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                      std::chars_format::scientific, significant - 1);
    const std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
    Digits d;
    const size_t e = text.find('e');
    for (size_t i = 0; i < e; ++i)
        if (text[i] != '.') d.digits += text[i];
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(), d.exponent);
    return d;
}

std::string non_finite(double value) {
    if (std::isnan(value)) return "nan";
    return value < 0 ? "-inf" : "inf";
}

// Fixed form with `precision` decimals, digits past the 7th significant one written as 0.
std::string fixed_form(double value, int precision) {
    if (!std::isfinite(value)) return non_finite(value);
    std::string text = value < 0 ? "-" : "";
    const double magnitude = std::fabs(value);
    if (magnitude == 0) {
        text = "0";
        if (precision > 0) text += '.' + std::string(static_cast<size_t>(precision), '0');
        return text;
    }
    const Digits d = significant_digits(magnitude, kSignificant);
    if (d.exponent + 1 + precision <= kSignificant) {
        char buffer[400];
        const auto result =
            std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::fixed, precision);
        text.append(buffer, result.ptr);
        return text;
    }
    auto digit = [&](int position) {  // position 0 is the first significant digit
        return position >= 0 && position < static_cast<int>(d.digits.size())
                   ? d.digits[static_cast<size_t>(position)]
                   : '0';
    };
    if (d.exponent >= 0) {
        for (int i = 0; i <= d.exponent; ++i) text += digit(i);
    } else {
        text += '0';
    }
    if (precision > 0) {
        text += '.';
        for (int i = 1; i <= precision; ++i) text += digit(d.exponent + i);
    }
    return text;
}

// "1.234568e4", "1e-3", "0": trailing zeros dropped, the exponent without leading zeros.
std::string exponent_form(double value, int significant) {
    if (!std::isfinite(value)) return non_finite(value);
    if (value == 0) return "0";
    const Digits d = significant_digits(std::fabs(value), std::clamp(significant, 1, kSignificant));
    std::string text = value < 0 ? "-" : "";
    text += d.digits[0];
    std::string rest = d.digits.substr(1);
    while (!rest.empty() && rest.back() == '0') rest.pop_back();
    if (!rest.empty()) text += '.' + rest;
    text += 'e';
    if (d.exponent < 0) text += '-';
    text += std::to_string(std::abs(d.exponent));
    return text;
}

int decimal_exponent(double magnitude) {
    if (magnitude == 0 || !std::isfinite(magnitude)) return 0;
    return significant_digits(magnitude, kSignificant).exponent;
}

std::string general_form(double value, const Conversion& conv) {
    if (!std::isfinite(value)) return non_finite(value);
    const double magnitude = std::fabs(value);
    const int exponent = decimal_exponent(magnitude);
    const int precision = conv.precision >= 0 ? conv.precision : kDefaultPrecision;
    if (conv.width >= 0) {
        const int integer_part = (value < 0 ? 1 : 0) + (exponent >= 0 ? exponent + 1 : 1);
        if (integer_part > conv.width - 1 || magnitude < std::pow(10.0, -precision))
            return exponent_form(value, kSignificant);
        return fixed_form(value, std::max(0, std::min(precision, conv.width - integer_part - 1)));
    }
    if (exponent < -4 || exponent > 6) return exponent_form(value, kSignificant);
    return fixed_form(value, std::min(kDefaultPrecision, 8 - exponent));
}

std::string padded(std::string text, const Conversion& conv, bool numeric) {
    if (conv.width < 0 || static_cast<int>(text.size()) >= conv.width) return text;
    const size_t fill = static_cast<size_t>(conv.width) - text.size();
    if (conv.left) return text + std::string(fill, ' ');
    if (conv.zero && numeric) {
        const size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
        return text.insert(sign, fill, '0');
    }
    return std::string(fill, ' ') + text;
}

class Output {
  public:
    Output(char* out, size_t capacity) : out_(out), capacity_(capacity) {}
    void put(std::string_view text) {
        if (capacity_ == 0) return;
        const size_t room = capacity_ - 1 - length_;
        const size_t n = std::min(room, text.size());
        text.copy(out_ + length_, n);
        length_ += n;
    }
    int finish() {
        if (capacity_ > 0) out_[length_] = 0;
        return static_cast<int>(length_);
    }

  private:
    char* out_;
    size_t capacity_;
    size_t length_ = 0;
};

class Arguments {
  public:
    explicit Arguments(std::span<const FormatArg> args) : args_(args) {}
    const FormatArg* next() { return index_ < args_.size() ? &args_[index_++] : nullptr; }
    int next_int() {
        const FormatArg* arg = next();
        if (arg == nullptr) return 0;
        if (arg->kind == FormatArg::Kind::integer) return static_cast<int>(arg->integer);
        if (arg->kind == FormatArg::Kind::real && std::isfinite(arg->real))
            return static_cast<int>(std::clamp(arg->real, -2147483648.0, 2147483647.0));
        return 0;
    }

  private:
    std::span<const FormatArg> args_;
    size_t index_ = 0;
};

double real_of(const FormatArg& arg) {
    const double value = arg.kind == FormatArg::Kind::integer ? static_cast<double>(arg.integer) : arg.real;
    return static_cast<double>(static_cast<float>(value));  // the formatter works in single precision
}

// Widths beyond any output buffer are cut to that bound, so a bad format cannot make us
// build a huge padding text.
constexpr int kWidthMax = 4096;

int read_number(const char*& p, Arguments& args) {
    if (*p == '*') {
        ++p;
        return args.next_int();
    }
    int value = 0;
    while (*p >= '0' && *p <= '9') {
        value = std::min(kWidthMax, value * 10 + (*p - '0'));
        ++p;
    }
    return value;
}

}  // namespace

int format_text(char* out, size_t capacity, const char* format, std::span<const FormatArg> list) {
    Output output(out, capacity);
    if (format == nullptr) return output.finish();
    Arguments args(list);
    for (const char* p = format; *p != 0;) {
        if (*p != '%') {
            const char* run = p;
            while (*p != 0 && *p != '%') ++p;
            output.put(std::string_view(run, static_cast<size_t>(p - run)));
            continue;
        }
        ++p;
        if (*p == '%') {
            output.put("%");
            ++p;
            continue;
        }
        Conversion conv;
        while (*p == '-' || *p == '0') {
            if (*p == '-') conv.left = true;
            if (*p == '0') conv.zero = true;
            ++p;
        }
        if (*p == '*' || (*p >= '0' && *p <= '9')) {
            conv.width = read_number(p, args);
            if (conv.width < 0) {
                conv.left = true;
                // Negated in 64 bits: the most negative int has no positive counterpart.
                conv.width = static_cast<int>(std::min<int64_t>(kWidthMax, -int64_t{conv.width}));
            }
            conv.width = std::min(conv.width, kWidthMax);
        }
        if (*p == '.') {
            ++p;
            conv.precision = std::clamp(read_number(p, args), -1, 64);
        }
        while (*p == 'l' || *p == 'h') ++p;
        const char conversion = *p;
        if (conversion == 0) break;
        ++p;
        switch (conversion) {
            case 'd': {
                const FormatArg* arg = args.next();
                int64_t number = 0;
                if (arg != nullptr && arg->kind == FormatArg::Kind::integer) number = arg->integer;
                if (arg != nullptr && arg->kind == FormatArg::Kind::real && std::isfinite(arg->real))
                    number = static_cast<int64_t>(std::clamp(arg->real, -2147483648.0, 2147483647.0));
                output.put(padded(std::to_string(static_cast<int32_t>(number)), conv, true));
                break;
            }
            case 's': {
                const FormatArg* arg = args.next();
                std::string_view text = arg != nullptr && arg->kind == FormatArg::Kind::text ? arg->text : "";
                if (conv.precision >= 0) text = text.substr(0, static_cast<size_t>(conv.precision));
                output.put(padded(std::string(text), conv, false));
                break;
            }
            case 'e': {
                const FormatArg* arg = args.next();
                const double value = arg != nullptr ? real_of(*arg) : 0;
                const int significant = conv.precision >= 0 ? conv.precision + 1 : kSignificant;
                output.put(padded(exponent_form(value, significant), conv, true));
                break;
            }
            case 'f': {
                const FormatArg* arg = args.next();
                const double value = arg != nullptr ? real_of(*arg) : 0;
                std::string text =
                    fixed_form(value, conv.precision >= 0 ? conv.precision : kDefaultPrecision);
                if (conv.width >= 0 && static_cast<int>(text.size()) > conv.width)
                    text.assign(static_cast<size_t>(conv.width), '*');
                output.put(padded(std::move(text), conv, true));
                break;
            }
            case 'g': {
                const FormatArg* arg = args.next();
                const double value = arg != nullptr ? real_of(*arg) : 0;
                output.put(padded(general_form(value, conv), conv, true));
                break;
            }
            default:
                break;  // unknown conversions are skipped
        }
    }
    return output.finish();
}

}  // namespace qvr
