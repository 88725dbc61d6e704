#include "tslib/structs_float.h"

#include <locale.h>
#include <stdlib.h>

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "tslib/invariant.h"
#include "tslib/structs_internal.h"

using tslib::detail::dup_text;
using tslib::detail::fail;
using tslib::detail::is_space;
using tslib::detail::require;

namespace {

// Stored files must read "0.1" whatever locale the host process set, so parsing uses a C
// locale object of its own.
locale_t c_locale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

// The bounds a float can hold, as literals.
constexpr double kFloatSmallest = 5.877473155409902e-39;
// Text forms carry 16 digits, so the largest float (3.4028234663852886e38) prints a little
// above itself, as 3.402823466385289e+38. Everything below the midpoint between the largest
// float and 2^128 still narrows to that float, so only from there on is a value too large.
constexpr double kFloatRoundsToInfinity = 0x1.ffffffp+127;
// The same for doubles: DBL_MAX prints as 1.797693134862316e+308, above the point from which
// a double rounds to infinity, so up to that form a value reads as the largest double.
constexpr long double kDoubleLargestText = 1.797693134862316e308L;
static_assert(LDBL_MAX_EXP > DBL_MAX_EXP, "long double holds the texts just above DBL_MAX");

double read_value(const StructsType* type, const void* data) {
    if (type->args[0].i == 1) {
        double d;
        std::memcpy(&d, data, sizeof d);
        return d;
    }
    float f;
    std::memcpy(&f, data, sizeof f);
    return f;
}

}  // namespace

int structs_float_equal(const StructsType* type, const void* a, const void* b) {
    const auto kind = type->args[0].i;
    require(kind == 0 || kind == 1, "float kind is 0 or 1");
    if (kind == 1) {
        double x, y;
        std::memcpy(&x, a, sizeof x);
        std::memcpy(&y, b, sizeof y);
        return x == y ? 1 : 0;
    }
    float x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x == y ? 1 : 0;
}

char* structs_float_ascify(const StructsType* type, const char* mtype, const void* data) {
    char buf[40];
    const auto r =
        std::to_chars(buf, buf + sizeof buf, read_value(type, data), std::chars_format::general, 16);
    require(r.ec == std::errc{}, "formatted double fits");
    return dup_text(mtype, std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

int structs_float_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                         std::size_t emax) {
    if (text == nullptr) text = "";
    const locale_t loc = c_locale();
    if (loc == static_cast<locale_t>(nullptr)) return fail(ENOMEM);
    const int saved = errno;
    errno = 0;
    char* end = nullptr;
    const double value = strtod_l(text, &end, loc);
    const int conversion_errno = errno;
    errno = saved;
    const char* rest = end;
    while (*rest != '\0' && is_space(*rest)) ++rest;
    if (end == text || *rest != '\0') {
        structs_write_error(ebuf, emax, "invalid floating point value");
        return fail(EINVAL);
    }
    if (conversion_errno == ERANGE && value == 0) {
        structs_write_error(ebuf, emax, "floating point value underflow");
        return fail(EINVAL);
    }
    if (conversion_errno == ERANGE && std::isinf(value)) {
        if (type->args[0].i == 1) {
            const int before = errno;
            const long double wide = strtold_l(text, nullptr, loc);
            errno = before;
            if (std::fabs(wide) <= kDoubleLargestText) {
                const double largest = std::copysign(DBL_MAX, value);
                std::memcpy(data, &largest, sizeof largest);
                return 0;
            }
        }
        structs_write_error(ebuf, emax, "floating point value overflow");
        return fail(EINVAL);
    }
    if (type->args[0].i == 1) {
        std::memcpy(data, &value, sizeof value);
        return 0;
    }
    if (value != 0) {
        if (std::fabs(value) < kFloatSmallest) {
            structs_write_error(ebuf, emax, "floating point value underflow");
            return fail(EINVAL);
        }
        if (std::fabs(value) >= kFloatRoundsToInfinity) {
            structs_write_error(ebuf, emax, "floating point value overflow");
            return fail(EINVAL);
        }
    }
    const auto f = static_cast<float>(value);
    std::memcpy(data, &f, sizeof f);
    return 0;
}
