#include "platform/ado/connection.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/ado/com_error.h"
#include "platform/ado/statement.h"
#include "platform/ado/text_codec.h"

namespace ado {

std::chrono::seconds default_timeout() {
    const char* hook = std::getenv("QUORVANE_DB_TIMEOUT");
    if (hook && *hook) {
        long seconds = 0;
        const auto [ptr, ec] = std::from_chars(hook, hook + std::strlen(hook), seconds);
        if (ec == std::errc() && *ptr == '\0' && seconds > 0 && seconds < 300) return std::chrono::seconds(seconds);
    }
    return std::chrono::seconds(300);
}

namespace {

std::chrono::seconds capped(std::chrono::seconds wanted) {
    const auto cap = default_timeout();
    return wanted > cap || wanted.count() <= 0 ? cap : wanted;
}

}  // namespace

Connection::Connection() : connection_timeout_(default_timeout()), command_timeout_(default_timeout()) {}

Connection::~Connection() {
    live_.reset();
    if (dbc_) SQLDisconnect(dbc_.get());
}

void Connection::set_connection_timeout(std::chrono::seconds timeout) { connection_timeout_ = capped(timeout); }

void Connection::set_command_timeout(std::chrono::seconds timeout) { command_timeout_ = capped(timeout); }

void Connection::open(std::u16string_view cs, std::u16string_view user, std::u16string_view password, int) {
    connect(cs, user, password, false);
}

void Connection::open_creating(std::u16string_view cs) { connect(cs, {}, {}, true); }

void Connection::connect(std::u16string_view cs, std::u16string_view user, std::u16string_view password,
                         bool create) {
    if (dbc_) raise(kObjectClosed, provider_, "Operation is not allowed when the object is open.");
    ProviderOptions options;
    options.login_timeout = connection_timeout_;
    options.create_database = create;
    ProviderTarget target = map_provider(utf8_from_utf16(cs), installed_driver_paths(), options);
    provider_ = target.provider;
    if (target.refusal != 0) raise(target.refusal, provider_, target.refusal_text);
    if (!user.empty()) target.odbc += ";" + odbc_pair("UID", utf8_from_utf16(user));
    if (!password.empty()) target.odbc += ";" + odbc_pair("PWD", utf8_from_utf16(password));
    if (target.kind == ProviderKind::odbc) target.odbc += ";CHARSET=utf8mb4";

    if (!env_) {
        env_ = allocate_handle(SQL_HANDLE_ENV, nullptr, provider_);
        SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    OdbcHandle dbc = allocate_handle(SQL_HANDLE_DBC, env_.get(), provider_);
    const auto login = static_cast<SQLULEN>(connection_timeout_.count());
    SQLSetConnectAttr(dbc.get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(login), 0);
    SQLSetConnectAttr(dbc.get(), SQL_ATTR_CONNECTION_TIMEOUT, reinterpret_cast<SQLPOINTER>(login), 0);
    std::vector<SQLCHAR> text(target.odbc.begin(), target.odbc.end());
    text.push_back(0);
    const SQLRETURN rc = SQLDriverConnect(dbc.get(), nullptr, text.data(), SQL_NTS, nullptr, 0, nullptr,
                                          SQL_DRIVER_NOPROMPT);
    if (!odbc_ok(rc)) {
        const Diagnostic d = read_diagnostic(SQL_HANDLE_DBC, dbc.get());
        // A driver library that cannot be loaded is a provider that is not installed; any
        // other failure here is a failure to connect, whatever state the driver names.
        const bool no_driver = d.sqlstate == "IM002" || d.sqlstate == "IM003" ||
                               d.text.find("Can't open lib") != std::string::npos;
        const HRESULT mapped = hresult_from_sqlstate(d.sqlstate, d.text);
        const HRESULT code = no_driver ? kProviderNotAvailable : mapped == kSyntax ? kFail : mapped;
        raise(code, provider_, d.text.empty() ? "the connection cannot be made" : d.text);
    }
    std::array<SQLCHAR, 128> name{};
    SQLSMALLINT length = 0;
    if (odbc_ok(SQLGetInfo(dbc.get(), SQL_DBMS_NAME, name.data(), static_cast<SQLSMALLINT>(name.size()), &length)))
        dbms_name_.assign(reinterpret_cast<const char*>(name.data()),
                          std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), name.size() - 1));
    dialect_ = Dialect::from_dbms_name(dbms_name_);
    dbc_ = std::move(dbc);
    live_ = std::make_shared<const bool>(true);
    if (dialect_.engine() == Engine::mariadb) {
        // A DROP behind another connection's open statement waits no longer than a query.
        execute_utf8("SET SESSION lock_wait_timeout = " + std::to_string(command_timeout_.count()));
    }
}

void Connection::close() {
    if (!dbc_) raise(kObjectClosed, provider_, "Operation is not allowed when the object is closed.");
    // The driver manager frees the statements with the connection.
    live_.reset();
    SQLDisconnect(dbc_.get());
    dbc_.reset();
}

SQLHDBC Connection::handle() const {
    if (!dbc_) raise(kObjectClosed, provider_, "Operation is not allowed when the object is closed.");
    return dbc_.get();
}

void Connection::raise_from(SQLSMALLINT type, SQLHANDLE h) const { raise_odbc(type, h, provider_); }

int64_t Connection::execute(std::u16string_view sql) { return execute_utf8(utf8_from_utf16(sql)); }

int64_t Connection::execute_utf8(std::string_view sql) {
    Statement statement(*this);
    statement.exec_direct(std::string(sql));
    return statement.row_count();
}

std::u16string Connection::default_database() {
    std::array<SQLCHAR, 256> name{};
    SQLINTEGER length = 0;
    if (!odbc_ok(SQLGetConnectAttr(handle(), SQL_ATTR_CURRENT_CATALOG, name.data(),
                                   static_cast<SQLINTEGER>(name.size()), &length)))
        raise_from(SQL_HANDLE_DBC, dbc_.get());
    const size_t n = std::min<size_t>(static_cast<size_t>(std::max<SQLINTEGER>(length, 0)), name.size() - 1);
    return utf16_from_utf8(std::string_view(reinterpret_cast<const char*>(name.data()), n));
}

void Connection::set_default_database(std::u16string_view name) {
    std::string text = utf8_from_utf16(name);
    if (!odbc_ok(SQLSetConnectAttr(handle(), SQL_ATTR_CURRENT_CATALOG, text.data(),
                                   static_cast<SQLINTEGER>(text.size()))))
        raise_from(SQL_HANDLE_DBC, dbc_.get());
}

}  // namespace ado
