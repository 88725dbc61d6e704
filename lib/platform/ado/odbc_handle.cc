#include "platform/ado/odbc_handle.h"

#include <array>

#include "platform/ado/com_error.h"

namespace ado {

void OdbcHandle::reset() {
    if (!handle_) return;
    if (type_ == SQL_HANDLE_STMT) SQLFreeStmt(handle_, SQL_CLOSE);
    SQLFreeHandle(type_, handle_);
    handle_ = nullptr;
}

Diagnostic read_diagnostic(SQLSMALLINT type, SQLHANDLE handle) {
    Diagnostic d;
    for (SQLSMALLINT record = 1; record <= 8; ++record) {
        std::array<SQLCHAR, 6> state{};
        SQLINTEGER native = 0;
        std::array<SQLCHAR, 1024> text{};
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRec(type, handle, record, state.data(), &native, text.data(),
                                           static_cast<SQLSMALLINT>(text.size()), &length);
        if (!odbc_ok(rc)) break;
        const size_t n = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), text.size() - 1);
        if (record == 1) {
            d.sqlstate.assign(reinterpret_cast<const char*>(state.data()), 5);
            d.native = native;
        } else {
            d.text += ' ';
        }
        d.text.append(reinterpret_cast<const char*>(text.data()), n);
    }
    return d;
}

void raise_odbc(SQLSMALLINT type, SQLHANDLE handle, const std::string& provider) {
    const Diagnostic d = handle ? read_diagnostic(type, handle) : Diagnostic{};
    raise(hresult_from_sqlstate(d.sqlstate, d.text), provider, d.text.empty() ? "unspecified driver error" : d.text);
}

OdbcHandle allocate_handle(SQLSMALLINT type, SQLHANDLE parent, const std::string& provider) {
    SQLHANDLE h = nullptr;
    const SQLRETURN rc = SQLAllocHandle(type, parent ? parent : SQL_NULL_HANDLE, &h);
    if (!odbc_ok(rc) || !h) {
        if (parent) raise_odbc(type == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV, parent, provider);
        raise(kOutOfMemory, provider, "the ODBC driver manager cannot allocate a handle");
    }
    return {type, h};
}

}  // namespace ado
