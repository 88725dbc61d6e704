#include "platform/locale_info.h"

#include <langinfo.h>
#include <locale.h>

#include <climits>

namespace platform {

LocaleNumberFormat read_user_number_format() {
    LocaleNumberFormat format;
    locale_t user = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (user == static_cast<locale_t>(0)) return format;
    const char* decimal = ::nl_langinfo_l(RADIXCHAR, user);
    const char* thousands = ::nl_langinfo_l(THOUSEP, user);
    const char* grouping = ::nl_langinfo_l(GROUPING, user);
    // Multi-byte separators (a narrow no-break space) have no one-character form: the first
    // byte would be half a character, so such a locale counts as having none.
    if (decimal != nullptr && decimal[0] != 0 && static_cast<unsigned char>(decimal[0]) < 0x80)
        format.decimal_point = decimal[0];
    if (thousands != nullptr && thousands[0] != 0 && static_cast<unsigned char>(thousands[0]) < 0x80)
        format.thousands_separator = thousands[0];
    if (grouping != nullptr && grouping[0] > 0 && grouping[0] != CHAR_MAX) {
        std::string text;
        for (const char* g = grouping; *g > 0 && *g != CHAR_MAX; ++g) {
            if (!text.empty()) text += ';';
            text += std::to_string(static_cast<int>(*g));
        }
        // The last group repeats, which the text form says with a closing 0.
        if (grouping[0] != 0 && grouping[1] != CHAR_MAX) text += ";0";
        format.grouping = text;
    }
    ::freelocale(user);
    return format;
}

}  // namespace platform
