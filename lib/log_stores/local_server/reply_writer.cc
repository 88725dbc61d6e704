// Bounded replies.
#include "log_stores/local_server/reply_writer.h"

#include <charconv>
#include <cstring>

#include "platform/last_error.h"

namespace log_stores::local {

namespace {
constexpr std::string_view kTooLarge = "-1,122";
}

void ReplyWriter::number(long long value) {
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    if (ec != std::errc()) {
        overflowed_ = true;
        return;
    }
    bytes(digits, static_cast<std::size_t>(end - digits));
}

void ReplyWriter::bytes(const void* data, std::size_t size) {
    if (overflowed_) return;
    if (size > out_.size() - used_) {
        overflowed_ = true;
        return;
    }
    if (size > 0) std::memcpy(out_.data() + used_, data, size);
    used_ += size;
}

void ReplyWriter::truncate(std::size_t size) {
    if (size < used_) used_ = size;
}

std::uint32_t ReplyWriter::finish_text() {
    return finish(true);
}
std::uint32_t ReplyWriter::finish_binary() {
    return finish(false);
}

std::uint32_t ReplyWriter::finish(bool nul) {
    if (!overflowed_ && nul) {
        const char end = '\0';
        bytes(&end, 1);
    }
    if (!overflowed_) return static_cast<std::uint32_t>(used_);
    platform::set_last_error(platform::kErrorInsufficientBuffer);
    if (out_.size() < kTooLarge.size() + 1) return 0;
    std::memcpy(out_.data(), kTooLarge.data(), kTooLarge.size());
    out_[kTooLarge.size()] = '\0';
    used_ = kTooLarge.size() + 1;
    return static_cast<std::uint32_t>(used_);
}

}  // namespace log_stores::local
