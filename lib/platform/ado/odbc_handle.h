#pragma once
// Owned ODBC handles and the one place where a failed SQL* call becomes a ComError.
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <utility>

namespace ado {

class OdbcHandle {
  public:
    OdbcHandle() = default;
    OdbcHandle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
    OdbcHandle(OdbcHandle&& other) noexcept { *this = std::move(other); }
    OdbcHandle& operator=(OdbcHandle&& other) noexcept {
        if (this != &other) {
            reset();
            type_ = other.type_;
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    OdbcHandle(const OdbcHandle&) = delete;
    OdbcHandle& operator=(const OdbcHandle&) = delete;
    ~OdbcHandle() { reset(); }

    void reset();
    // Forgets a handle that its parent has already freed (a statement of a closed connection).
    void abandon() { handle_ = nullptr; }
    SQLHANDLE get() const { return handle_; }
    SQLSMALLINT type() const { return type_; }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    SQLSMALLINT type_ = 0;
    SQLHANDLE handle_ = nullptr;
};

struct Diagnostic {
    std::string sqlstate;  // "" when the handle holds no record
    long native = 0;
    std::string text;      // UTF-8, every record of the call joined
};

Diagnostic read_diagnostic(SQLSMALLINT type, SQLHANDLE handle);

// Raises the ComError of a failed call on `handle` (SQL_ERROR, SQL_INVALID_HANDLE); the
// error's source is `provider`.
[[noreturn]] void raise_odbc(SQLSMALLINT type, SQLHANDLE handle, const std::string& provider);

inline bool odbc_ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// A new handle of `type` below `parent`; raises when the driver manager cannot make one.
OdbcHandle allocate_handle(SQLSMALLINT type, SQLHANDLE parent, const std::string& provider);

}  // namespace ado
