#include "server/tls/request_delimiter.h"

#include <algorithm>
#include <charconv>

namespace sim_server {
namespace {

using State = RequestExtent::State;

RequestExtent need_more() { return {State::need_more, 0}; }
RequestExtent invalid() { return {State::invalid, 0}; }

// The end of the text, or need_more / invalid when the text is unfinished or too long.
RequestExtent complete_at(size_t length, size_t received, size_t limit) {
    if (length > limit) return invalid();
    if (received < length) return need_more();
    return {State::complete, length};
}

// The position just after the `n`th `separator` from `from`, before any NUL; 0 when it has
// not arrived (or a NUL comes first: `bad` set).
size_t after_nth(std::string_view bytes, size_t from, char separator, int n, bool& bad) {
    for (size_t i = from; i < bytes.size(); ++i) {
        if (bytes[i] == '\0') {
            bad = true;
            return 0;
        }
        if (bytes[i] == separator && --n == 0) return i + 1;
    }
    return 0;
}

// The decimal number of field `index` (0-based) of the fields from `from` to `end`.
bool field_number(std::string_view bytes, size_t from, size_t end, char separator, int index, size_t& value) {
    size_t start = from;
    for (int i = 0; i < index; ++i) {
        const size_t next = bytes.find(separator, start);
        if (next == std::string_view::npos || next >= end) return false;
        start = next + 1;
    }
    size_t stop = bytes.find(separator, start);
    if (stop == std::string_view::npos || stop > end) stop = end;
    if (stop == start) return false;
    const auto [ptr, ec] = std::from_chars(bytes.data() + start, bytes.data() + stop, value);
    return ec == std::errc() && ptr == bytes.data() + stop;
}

size_t add_or_max(size_t a, size_t b) { return b > SIZE_MAX - a ? SIZE_MAX : a + b; }

}  // namespace

RequestExtent delimit_request(std::string_view bytes, size_t limit) {
    if (bytes.size() < 2 && bytes.find('\0') == std::string_view::npos)
        return bytes.size() > limit ? invalid() : need_more();
    const std::string_view code = bytes.substr(0, std::min<size_t>(bytes.size(), 2));
    const bool fields = bytes.size() > 2 && bytes[2] == ',';
    bool bad = false;
    if (code == "WF" || code == "CF" || code == "SV") {
        if (!fields) return bytes.size() >= 3 ? invalid() : need_more();
        const char separator = code == "WF" ? '\t' : ',';
        const int count = code == "WF" ? 9 : code == "CF" ? 4 : 3;
        const size_t data = after_nth(bytes, 3, separator, count, bad);
        if (bad) return invalid();
        if (data == 0) return bytes.size() > limit ? invalid() : need_more();
        if (code == "SV") {
            for (size_t i = data; i + 1 < bytes.size(); i += 2) {
                if (i + 2 > limit) return invalid();
                if (bytes[i] == '\0' && bytes[i + 1] == '\0') return {State::complete, i + 2};
            }
            return data > limit ? invalid() : need_more();
        }
        size_t size = 0;
        if (!field_number(bytes, 3, data - 1, separator, code == "WF" ? 1 : 2, size)) return invalid();
        return complete_at(add_or_max(data, size), bytes.size(), limit);
    }
    const size_t nul = bytes.find('\0');
    if (nul == std::string_view::npos) return bytes.size() > limit ? invalid() : need_more();
    if ((code == "HF" || code == "FF") && fields) {
        size_t size = 0;
        if (!field_number(bytes, 3, nul, ',', 0, size)) return invalid();
        return complete_at(add_or_max(nul + 1, size), bytes.size(), limit);
    }
    return complete_at(nul + 1, bytes.size(), limit);
}

}  // namespace sim_server
