#pragma once
// The failure of a data-access call: its result code, the provider that raised it and the
// driver's own text. Raised inside the layer and caught by each accessor operation; it never
// crosses a C entry point.
#include <exception>
#include <string>
#include <string_view>

#include "platform/ado/hresult.h"

namespace ado {

class ComError : public std::exception {
  public:
    ComError(HRESULT code, std::string source, std::string description)
        : code_(code), source_(std::move(source)), description_(std::move(description)) {}

    HRESULT code() const noexcept { return code_; }
    // The provider name; empty when the error carries no error information.
    const std::string& source() const noexcept { return source_; }
    // UTF-8; empty when the error carries no error information.
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

  private:
    HRESULT code_;
    std::string source_;
    std::string description_;
};

// The result code of an ODBC diagnostic: its five-character SQLSTATE and the driver's text
// (some drivers report a missing table only in the text).
HRESULT hresult_from_sqlstate(std::string_view sqlstate, std::string_view text);

[[noreturn]] void raise(HRESULT code, std::string source = {}, std::string description = {});

}  // namespace ado
