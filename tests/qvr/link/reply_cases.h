#pragma once
// The table of reply cases every transport of the server link must turn into the same
// result, error and trace line; the trace is what follows "<<" and the server string.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace link_test {

struct ReplyCase {
    const char* name;
    std::string reply;
    uint32_t capacity;
    int result;
    int error;
    const char* trace;
};

inline void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

inline std::vector<ReplyCase> reply_cases() {
    return {
        {"Number", std::string("12", 3), 256, 12, 0, " Result 12 to QS\r\n"},
        {"ErrorCode", std::string("-1,5", 5), 256, -1, 5, " Call Error 5 to QS\r\n"},
        {"Empty", "", 256, -1, 8001, " No Result to QS\r\n"},
        {"MinusOneAlone", "-1", 256, -1, 13, " Call Error 13 to QS\r\n"},
        {"MinusOneComma", "-1,", 256, -1, 13, " Call Error 13 to QS\r\n"},
        {"SixteenDigitsFillTheReply", "0000000000000042", 16, 42, 0, " Result 42 to QS\r\n"},
        {"HugeNumberSaturates", "99999999999999999999", 20, 2147483647, 0, " Result 2147483647 to QS"},
        {"LongerThanCapacity", std::string(17, '7'), 16, -1, 234, " Error 234 to QS\r\n"},
    };
}

}  // namespace link_test
