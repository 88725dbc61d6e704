// Following an HTTP response's framing to its end.
#include "link_web/http_response_end.h"

#include <algorithm>

#include "platform/ascii_text.h"

namespace link_web {
namespace {

// The headers that tell a response's end are short; longer lines are kept only in part.
constexpr std::size_t kLineKept = 256;
// More hexadecimal digits than a 64-bit size holds.
constexpr std::size_t kChunkDigitsMax = 15;
constexpr std::size_t kLengthDigitsMax = 18;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool decimal(std::string_view text, std::size_t max_digits, uint64_t& out) {
    if (text.empty() || text.size() > max_digits) return false;
    out = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        out = out * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

bool hexadecimal(std::string_view text, uint64_t& out) {
    if (text.empty() || text.size() > kChunkDigitsMax) return false;
    out = 0;
    for (char c : text) {
        const char l = platform::ascii_lower(c);
        const int digit = l >= '0' && l <= '9' ? l - '0' : l >= 'a' && l <= 'f' ? l - 'a' + 10 : -1;
        if (digit < 0) return false;
        out = out * 16 + static_cast<uint64_t>(digit);
    }
    return true;
}

}  // namespace

void HttpResponseEnd::reset() {
    *this = HttpResponseEnd();
}

void HttpResponseEnd::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        switch (state_) {
            case State::open_ended:
            case State::complete:
                return;
            case State::body:
            case State::chunk_data: {
                const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(remaining_, bytes.size()));
                remaining_ -= n;
                bytes.remove_prefix(n);
                if (remaining_ == 0) state_ = state_ == State::body ? State::complete : State::chunk_end;
                break;
            }
            default: {
                const std::size_t newline = bytes.find('\n');
                const std::string_view part = bytes.substr(0, newline);
                const std::size_t room = kLineKept - line_.size();
                line_.append(part.substr(0, room));
                if (part.size() > room) line_cut_ = true;
                if (newline == std::string_view::npos) return;
                bytes.remove_prefix(newline + 1);
                end_of_line();
                break;
            }
        }
    }
}

void HttpResponseEnd::end_of_line() {
    std::string_view line = line_;
    if (!line.empty() && line.back() == '\r' && !line_cut_) line.remove_suffix(1);
    switch (state_) {
        case State::status_line: {
            // "HTTP/1.1 200 OK"
            const std::size_t space = line.find(' ');
            uint64_t status = 0;
            if (!line.starts_with("HTTP/") || space == std::string_view::npos ||
                !decimal(line.substr(space + 1, 3), 3, status) || status < 100) {
                state_ = State::open_ended;
                break;
            }
            status_ = static_cast<int>(status);
            state_ = State::headers;
            break;
        }
        case State::headers:
            if (line.empty() && !line_cut_)
                end_of_headers();
            else
                header(line);
            break;
        case State::chunk_size:
            chunk_size_line(line);
            break;
        case State::chunk_end:
            state_ = line.empty() && !line_cut_ ? State::chunk_size : State::open_ended;
            break;
        case State::trailer:
            if (line.empty() && !line_cut_) state_ = State::complete;
            break;
        default:
            break;
    }
    line_.clear();
    line_cut_ = false;
}

void HttpResponseEnd::header(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    const std::string_view name = trimmed(line.substr(0, colon));
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (platform::equal_ignoring_case(name, "Content-Length")) {
        uint64_t length = 0;
        if (line_cut_ || !decimal(value, kLengthDigitsMax, length) || (length_known_ && length != length_))
            length_unclear_ = true;
        length_known_ = true;
        length_ = length;
    } else if (platform::equal_ignoring_case(name, "Transfer-Encoding")) {
        // Chunked only when it is the last coding; any other last coding reads to the close.
        const std::size_t comma = value.rfind(',');
        const std::string_view last = trimmed(comma == std::string_view::npos ? value : value.substr(comma + 1));
        chunked_ = !line_cut_ && platform::equal_ignoring_case(last, "chunked");
        transfer_coded_ = true;
    }
}

void HttpResponseEnd::end_of_headers() {
    if (status_ < 200 && status_ != 101) {
        // An interim response; the real one follows.
        reset();
        return;
    }
    if (status_ == 101) {
        state_ = State::open_ended;
    } else if (status_ == 204 || status_ == 304) {
        state_ = State::complete;
    } else if (transfer_coded_) {
        state_ = chunked_ ? State::chunk_size : State::open_ended;
    } else if (length_known_ && !length_unclear_) {
        remaining_ = length_;
        state_ = length_ == 0 ? State::complete : State::body;
    } else {
        state_ = State::open_ended;
    }
}

void HttpResponseEnd::chunk_size_line(std::string_view line) {
    uint64_t size = 0;
    if (line_cut_ || !hexadecimal(trimmed(line.substr(0, line.find(';'))), size)) {
        state_ = State::open_ended;
    } else if (size == 0) {
        state_ = State::trailer;
    } else {
        remaining_ = size;
        state_ = State::chunk_data;
    }
}

}  // namespace link_web
