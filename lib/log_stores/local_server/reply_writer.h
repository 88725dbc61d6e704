#pragma once
// A reply built into the caller's buffer without ever writing past its capacity. Once a
// write does not fit the writer stops taking data and the reply becomes "-1,122".
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace log_stores::local {

class ReplyWriter {
  public:
    explicit ReplyWriter(std::span<char> out) : out_(out) {}

    void text(std::string_view text) { bytes(text.data(), text.size()); }
    void number(long long value);
    void u16(std::uint16_t value) { bytes(&value, sizeof value); }
    void i16(std::int16_t value) { bytes(&value, sizeof value); }
    void u32(std::uint32_t value) { bytes(&value, sizeof value); }
    void i32(std::int32_t value) { bytes(&value, sizeof value); }
    void bytes(const void* data, std::size_t size);
    // Drops what was written after `size` bytes (a writer that overflowed stays so).
    void truncate(std::size_t size);

    std::size_t size() const { return used_; }
    bool overflowed() const { return overflowed_; }
    // Ends the reply with its NUL, or replaces it by "-1,122" when it did not fit. The reply's
    // length with the NUL; 0 when not even the failure text fits (nothing usable was written).
    std::uint32_t finish_text();
    // As finish_text, for binary replies that carry no NUL of their own.
    std::uint32_t finish_binary();

  private:
    std::uint32_t finish(bool nul);

    std::span<char> out_;
    std::size_t used_ = 0;
    bool overflowed_ = false;
};

}  // namespace log_stores::local
