#pragma once
// What every text of the printout is built with: printf-style appends whose numbers ignore
// the program's locale, the N/Y words, and record texts fitted to their columns.
#include <cstddef>
#include <string>
#include <string_view>

namespace tolva::cf::printout_columns {

// Appends the formatted text (at most 255 bytes) in the C locale.
__attribute__((format(printf, 2, 3))) void appendf(std::string& out, const char* format, ...);
// The C locale for the calling thread while it lives, for callers of snprintf itself.
class CLocaleScope {
  public:
    CLocaleScope();
    ~CLocaleScope();
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

  private:
    void* previous_;
};

inline std::string_view yes_no(bool on) {
    return on ? "Y" : "N";
}

// A record text up to its first NUL, at most `width` bytes, control characters as blanks.
std::string column_text(std::string_view text, std::size_t width);

inline std::string_view field(const char* bytes, std::size_t size) {
    return {bytes, size};
}

}  // namespace tolva::cf::printout_columns
