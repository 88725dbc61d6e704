#include "tslib/structs_time.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "tslib/structs_internal.h"

using tslib::detail::dup_text;
using tslib::detail::fail;
using tslib::detail::is_space;

namespace {

constexpr int kFirstYear = 1900;
constexpr int kLastYear = kFirstYear + 254;  // 255 is the wildcard byte
constexpr int kPartMax = 59;

enum Byte { kYear = 0, kMonth = 1, kDay = 2, kHour = 3, kMinute = 4 };

bool has_year(const StructsType* type) {
    return type->args[0].i == 1;
}

bool wildcards(const StructsType* type) {
    return type->args[1].i == 1;
}

const char* skip_spaces(const char* p) {
    while (is_space(*p)) ++p;
    return p;
}

// A run of '*' when wildcards are allowed: the wildcard byte, and p moved past it.
bool read_wildcard(const StructsType* type, const char*& p) {
    if (!wildcards(type) || *p != '*') return false;
    while (*p == '*') ++p;
    return true;
}

// Up to max_digits decimal digits (at least one); p moved past them.
std::optional<int> read_digits(const char*& p, int max_digits) {
    int value = 0;
    int n = 0;
    while (n < max_digits && *p >= '0' && *p <= '9') {
        value = value * 10 + (*p - '0');
        ++p;
        ++n;
    }
    if (n == 0) return std::nullopt;
    return value;
}

int invalid(char* ebuf, std::size_t emax, const char* message) {
    structs_write_error(ebuf, emax, "%s", message);
    return fail(EINVAL);
}

}  // namespace

char* structs_time_ascify(const StructsType* type, const char* mtype, const void* data) {
    const auto* t = static_cast<const std::uint8_t*>(data);
    const bool wild = wildcards(type);
    char year[8] = "";
    if (has_year(type)) {
        if (wild && t[kYear] == kStructsTimeAny)
            std::snprintf(year, sizeof year, "****-");
        else
            std::snprintf(year, sizeof year, "%04d-", t[kYear] + kFirstYear);
    }
    char part[4][4];
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t b = t[kMonth + i];
        if (wild && b == kStructsTimeAny)
            std::snprintf(part[i], sizeof part[i], "**");
        else
            std::snprintf(part[i], sizeof part[i], "%02d", b);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%s%s-%sT%s:%s", year, part[0], part[1], part[2], part[3]);
    return dup_text(mtype, text);
}

int structs_time_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax) {
    if (text == nullptr) text = "";
    std::uint8_t value[kStructsTimeSize] = {};
    const char* p = text;
    if (has_year(type)) {
        p = skip_spaces(p);
        if (read_wildcard(type, p)) {
            value[kYear] = kStructsTimeAny;
        } else {
            const std::optional<int> year = read_digits(p, 4);
            if (!year || *year < kFirstYear || *year > kLastYear) return invalid(ebuf, emax, "invalid year value");
            value[kYear] = static_cast<std::uint8_t>(*year - kFirstYear);
        }
        if (*p != '-') return invalid(ebuf, emax, "invalid year value");
    }
    // The separator that comes before each part: month, day, hour, minute.
    constexpr char kBefore[] = {'-', '-', 'T', ':'};
    for (int i = 0; i < 4; ++i) {
        while (is_space(*p) || *p == kBefore[i]) ++p;
        if (read_wildcard(type, p)) {
            value[kMonth + i] = kStructsTimeAny;
        } else {
            const std::optional<int> part = read_digits(p, 2);
            if (!part || *part > kPartMax) return invalid(ebuf, emax, "invalid time value");
            value[kMonth + i] = static_cast<std::uint8_t>(*part);
        }
        if (i < 3) {
            p = std::strchr(p, kBefore[i + 1]);
            if (p == nullptr) return invalid(ebuf, emax, "invalid time value");
        }
    }
    std::memcpy(data, value, sizeof value);
    return 0;
}
