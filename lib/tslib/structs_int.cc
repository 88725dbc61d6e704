#include "tslib/structs_int.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

#include "tslib/structs_internal.h"

using tslib::detail::dup_text;
using tslib::detail::fail;
using tslib::detail::is_space;

namespace {

// The value as stored, widened; signed storage is sign-extended.
struct StoredValue {
    std::uint64_t bits;
    bool negative;
};

StoredValue read_stored(const void* data, std::uint32_t width, bool as_signed) {
    std::uint64_t u = 0;
    std::int64_t s = 0;
    switch (width) {
        case 1: {
            std::uint8_t v;
            std::memcpy(&v, data, 1);
            u = v;
            s = static_cast<std::int8_t>(v);
            break;
        }
        case 2: {
            std::uint16_t v;
            std::memcpy(&v, data, 2);
            u = v;
            s = static_cast<std::int16_t>(v);
            break;
        }
        case 4: {
            std::uint32_t v;
            std::memcpy(&v, data, 4);
            u = v;
            s = static_cast<std::int32_t>(v);
            break;
        }
        default: {
            std::memcpy(&u, data, 8);
            s = static_cast<std::int64_t>(u);
            break;
        }
    }
    if (as_signed) return {static_cast<std::uint64_t>(s), s < 0};
    return {u, false};
}

void store_low_bytes(void* data, std::uint32_t width, std::uint64_t bits) {
    switch (width) {
        case 1: {
            const auto v = static_cast<std::uint8_t>(bits);
            std::memcpy(data, &v, 1);
            break;
        }
        case 2: {
            const auto v = static_cast<std::uint16_t>(bits);
            std::memcpy(data, &v, 2);
            break;
        }
        case 4: {
            const auto v = static_cast<std::uint32_t>(bits);
            std::memcpy(data, &v, 4);
            break;
        }
        default:
            std::memcpy(data, &bits, 8);
            break;
    }
}

// A number in the automatic base: leading "0x" hexadecimal, leading "0" octal, else decimal;
// leading white space and a sign accepted.
struct ParsedNumber {
    bool converted = false;
    bool negative = false;
    bool overflow = false;  // magnitude beyond 64 bits
    std::uint64_t magnitude = 0;
    const char* end = nullptr;
};

constexpr bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

ParsedNumber parse_number(const char* text) {
    ParsedNumber out;
    const char* p = text;
    const char* const end = text + std::strlen(text);
    while (p < end && is_space(*p)) ++p;
    if (p < end && (*p == '+' || *p == '-')) {
        out.negative = *p == '-';
        ++p;
    }
    int base = 10;
    if (end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && is_hex_digit(p[2])) {
        base = 16;
        p += 2;
    } else if (p < end && *p == '0') {
        base = 8;
    }
    const auto r = std::from_chars(p, end, out.magnitude, base);
    if (r.ptr == p) {
        out.end = text;
        return out;
    }
    out.converted = true;
    out.overflow = r.ec == std::errc::result_out_of_range;
    out.end = r.ptr;
    return out;
}

// Accepted range of a size code, as a lowest magnitude below zero and a highest value.
struct Range {
    std::uint64_t neg_max;
    std::uint64_t pos_max;
};

Range range_of(int code, bool wide_unsigned) {
    switch (code) {
        case kStructsIntChar:
        case kStructsInt8:
            return {128, 255};
        case kStructsIntShort:
        case kStructsInt16:
            return {32768, 65535};
        case kStructsIntInt:
        case kStructsIntLong:
        case kStructsInt32:
            return {2147483648u, 4294967295u};
        default:
            return {std::uint64_t{1} << 63, wide_unsigned ? UINT64_MAX : INT64_MAX};
    }
}

}  // namespace

char* structs_int_ascify(const StructsType* type, const char* mtype, const void* data) {
    const auto code = type->args[0].i;
    const auto kind = type->args[1].i;
    if (code < 0 || code > kStructsInt64) {
        errno = EDOM;
        return nullptr;
    }
    const StoredValue v = read_stored(data, type->size, kind == kStructsIntSigned);
    char buf[32];
    char* p = buf;
    char* const end = buf + sizeof buf;
    std::to_chars_result r{};
    if (kind == kStructsIntHex) {
        *p++ = '0';
        *p++ = 'x';
        if (type->size == 1 && v.bits < 0x10) *p++ = '0';
        r = std::to_chars(p, end, v.bits, 16);
    } else if (v.negative) {
        r = std::to_chars(p, end, static_cast<std::int64_t>(v.bits));
    } else {
        r = std::to_chars(p, end, v.bits);
    }
    return dup_text(mtype, std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

int structs_int_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax) {
    const auto code = type->args[0].i;
    const auto kind = type->args[1].i;
    if (code < 0 || code > kStructsInt64) return fail(EDOM);
    const ParsedNumber n = parse_number(text != nullptr ? text : "");
    if (!n.converted) {
        structs_write_error(ebuf, emax, "invalid integer value");
        return fail(EINVAL);
    }
    const char* rest = n.end;
    while (*rest != '\0' && is_space(*rest)) ++rest;
    if (*rest != '\0') return fail(EINVAL);

    // 64-bit values of an unsigned or hexadecimal type use the whole unsigned range, so that
    // every value they print reads back.
    const bool wide_unsigned = code == kStructsInt64 && kind != kStructsIntSigned;
    const Range range = range_of(static_cast<int>(code), wide_unsigned);
    const bool negative = n.negative && n.magnitude != 0;
    const bool out_of_range = n.overflow || (negative && kind == kStructsIntUnsigned) ||
                              (negative ? n.magnitude > range.neg_max : n.magnitude > range.pos_max);
    if (out_of_range) {
        structs_write_error(ebuf, emax, "integer value is out of range");
        return fail(EINVAL);
    }
    const std::uint64_t bits = negative ? ~n.magnitude + 1 : n.magnitude;
    store_low_bytes(data, type->size, bits);
    return 0;
}
