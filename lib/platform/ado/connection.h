#pragma once
// An ADO-shaped connection over unixODBC: the connection string goes through the provider
// map, the driver is loaded by its library path, and every failure is a ComError whose
// source is the provider name.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ado/connection_string.h"
#include "platform/ado/dialect.h"
#include "platform/ado/odbc_handle.h"
#include "platform/ado/variant.h"

namespace ado {

// 300 s, as the stores set them; QUORVANE_DB_TIMEOUT (seconds) shortens it for tests.
std::chrono::seconds default_timeout();

class Connection {
  public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Login and query time-outs; the test hook caps both.
    void set_connection_timeout(std::chrono::seconds timeout);
    void set_command_timeout(std::chrono::seconds timeout);
    std::chrono::seconds command_timeout() const { return command_timeout_; }

    // Opens through the provider map; `user` and `password`, when not empty, replace those
    // of the string. `options` is ADO's (-1 unspecified); it changes nothing here.
    void open(std::u16string_view connection_string, std::u16string_view user = {},
              std::u16string_view password = {}, int options = -1);
    // Opens as the catalog does when it makes a database: a missing SQLite file is made.
    void open_creating(std::u16string_view connection_string);
    // Raises when the connection is not open, as ADO does.
    void close();
    // 0 closed, 1 open.
    int state() const { return dbc_ ? 1 : 0; }
    // Open, and its link has not failed (as a call reported, or as the driver tells now).
    bool sound() const;

    // Runs a statement that returns no rows; the affected-row count (-1 when none applies).
    int64_t execute(std::u16string_view sql);
    int64_t execute_utf8(std::string_view sql);
    // The first column of the first row of a query (NULL when there is none).
    Variant query_value_utf8(std::string_view sql);
    // ADO's BeginTrans, CommitTrans and RollbackTrans: statements after begin_transaction
    // stay uncommitted until commit (or rollback); both end it and return to autocommit.
    void begin_transaction();
    void commit();
    void rollback();
    bool in_transaction() const { return in_transaction_; }
    // The current database (catalog) name.
    std::u16string default_database();
    // Makes another database of the server the current one.
    void set_default_database(std::u16string_view name);
    const std::string& provider() const { return provider_; }
    const Dialect& dialect() const { return dialect_; }
    const std::string& dbms_name() const { return dbms_name_; }

    // For the recordset, command and catalog of this layer.
    SQLHDBC handle() const;
    // Expires when the connection closes; statements of the connection hold it weakly.
    std::weak_ptr<const bool> liveness() const { return live_; }
    [[noreturn]] void raise_from(SQLSMALLINT type, SQLHANDLE handle) const;

  private:
    void connect(std::u16string_view connection_string, std::u16string_view user, std::u16string_view password,
                 bool create);

    OdbcHandle env_;
    OdbcHandle dbc_;
    std::shared_ptr<const bool> live_;
    std::chrono::seconds connection_timeout_;
    std::chrono::seconds command_timeout_;
    bool in_transaction_ = false;
    // Set by a failure of the link itself: a shared connection that failed is not handed out.
    mutable std::atomic<bool> broken_{false};
    std::string provider_;
    std::string dbms_name_;
    Dialect dialect_;
};

}  // namespace ado
