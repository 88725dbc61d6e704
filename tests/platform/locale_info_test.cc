#include "platform/locale_info.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>

TEST(LocaleInfo, ItemsComeFromTheEnvironmentNotTheProcessLocale) {
    struct Case {
        const char* locale;
        char decimal;
        char thousands;
        char grouping;
    };
    const Case cases[] = {{"de_DE.UTF-8", ',', '.', '3'},
                          {"en_US.UTF-8", '.', ',', '3'},
                          {"C", '.', 0, '0'},
                          {"no_SUCH.locale", '.', 0, '0'}};
    for (const Case& c : cases) {
        setenv("LC_ALL", c.locale, 1);
        const platform::LocaleNumberFormat format = platform::read_user_number_format();
        EXPECT_EQ(format.decimal_point, c.decimal) << c.locale;
        EXPECT_EQ(format.thousands_separator, c.thousands) << c.locale;
        EXPECT_EQ(format.grouping[0], c.grouping) << c.locale;
    }
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C") << "never changed";
    // A narrow no-break space as separator has no one-character form.
    setenv("LC_ALL", "fr_FR.UTF-8", 1);
    EXPECT_EQ(platform::read_user_number_format().thousands_separator, 0);
}
