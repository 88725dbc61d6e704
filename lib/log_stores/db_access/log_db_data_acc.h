#pragma once
// The one object through which the database back end of the logged-data stores reads and
// writes rows: one connection, one recordset, every call serialised on its own lock, every
// database failure turned into the operation's code and a kept error text. Owners call it
// through the virtual operations (embedded by value; no base class).
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

#include "log_stores/db_access/com_error_report.h"
#include "platform/ado/dialect.h"
#include "platform/ado/variant.h"

namespace ado {
class Connection;
class Recordset;
}  // namespace ado

class CLogDbDataAcc {
  public:
    using Result = int32_t;

    CLogDbDataAcc();
    ~CLogDbDataAcc();
    CLogDbDataAcc(const CLogDbDataAcc&) = delete;
    CLogDbDataAcc& operator=(const CLogDbDataAcc&) = delete;

    virtual Result OpenRecordset(std::u16string_view sql, int32_t cursorType, int32_t lockType, int32_t options);
    virtual Result OpenTable(std::u16string_view first, std::u16string_view second);
    virtual Result CloseRecordset();
    virtual Result CancelUpdate();
    // Moves old runs of a logger to the archive tables (the archive of the logger database).
    virtual Result ArchiveLoggers(std::u16string_view loggerName, int32_t unused1, int32_t unused2,
                                  std::u16string_view firstConnection, std::u16string_view secondConnection,
                                  std::u16string_view databaseName, int32_t archive, double cutoff);
    virtual Result IsBOF(ado::Variant* out);
    virtual Result GetRecordCount(int32_t* out);
    virtual Result SetFieldValue(std::u16string_view fieldName, ado::Variant value);
    virtual Result FieldEquals(ado::Variant value, std::u16string_view fieldName, ado::Variant* out);
    virtual Result GetFieldValueByName(std::u16string_view fieldName, ado::Variant* out);
    virtual Result IsEOF(ado::Variant* out);
    virtual Result AddNewRow(int32_t unused, const ado::Variant* fieldList, const ado::Variant* values);
    virtual Result FindRowByField(ado::Variant value, std::u16string_view fieldName, ado::Variant* out);
    virtual Result ReadFields(int32_t count, const ado::Variant* fieldNames, ado::Variant* out);
    virtual Result PutDoubleFields(int32_t firstField, int32_t count, const double* values);
    virtual Result GetDoublesByIndex(int32_t firstField, int32_t count, double* out);
    virtual Result Update();
    virtual Result UpdateRow();
    virtual Result DeleteCurrent();
    virtual Result AddNew();
    virtual Result PutFieldByIndex(int32_t fieldIndex, ado::Variant value);
    virtual Result GetFieldValueByIndex(int32_t fieldIndex, ado::Variant* out);
    virtual Result MoveLast();
    virtual Result MovePrevious();
    virtual Result MoveNext();
    virtual Result MoveFirst();
    virtual Result MoveTo(int32_t rows);
    virtual Result OpenTableByName(std::u16string_view tableName);
    // The connection's State itself (0 closed, 1 open), not a status code.
    virtual Result GetConnectionState();
    virtual Result CloseAll();
    virtual Result WaitIdle(std::u16string_view userName, std::u16string_view password);
    virtual Result OpenConnection(std::u16string_view first, std::u16string_view second, int32_t unused);

    // OpenConnection with the process's shared connection for that string (its recordsets,
    // never its transactions: those need a connection of their own). CloseAll then lets it go
    // without closing it under its other users.
    Result OpenSharedConnection(std::u16string_view first, std::u16string_view second);

    // The description of the last captured error; read without the lock.
    const char* GetLastErrorText() const { return lastErrorText_; }
    // The engine of the open connection, whose SQL forms the owner writes (Engine::other
    // without a connection).
    ado::Dialect ConnectionDialect();
    // The number of fields of the open recordset; 0 without one.
    int32_t FieldCount();
    // The connection's transaction, as ADO's Connection has it: 0, or E_FAIL with the error
    // captured. A failed CommitTrans leaves it unknown whether the rows are in.
    Result BeginTrans();
    Result CommitTrans();
    Result RollbackTrans();
    // The first column of the first row of a query, run beside the recordset (which stays as
    // it is): 0, or E_FAIL with the error captured.
    Result QueryValue(std::u16string_view sql, ado::Variant* out);
    // The current database of the connection (empty without one).
    std::u16string DatabaseName();
    void CaptureComError(const ado::ComError& error);

  private:
    // Runs `body` under the lock; a database failure is captured and gives `failure`, any
    // other exception gives `failure` without a capture.
    template <typename Body>
    Result guarded(Result failure, Body&& body);
    ado::Recordset& recordset() const;
    ado::Connection& connection() const;
    // Closes (when this object opened it) and drops the recordset, and makes a new one on
    // the connection.
    void replace_recordset();
    void open_replaced(std::u16string_view source, int32_t cursorType, int32_t lockType, int32_t options);

    std::shared_ptr<ado::Connection> connection_;
    std::unique_ptr<ado::Recordset> recordset_;
    std::recursive_mutex lock_;
    char lastErrorText_[log_stores::kErrorTextSize] = {};
    int32_t recordsetOpen_ = 0;
    bool sharedConnection_ = false;
};
