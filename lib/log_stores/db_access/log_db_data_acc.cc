#include "log_stores/db_access/log_db_data_acc.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/ado/connection.h"
#include "platform/ado/connection_string.h"
#include "platform/ado/recordset.h"
#include "platform/ado/shared_connections.h"
#include "platform/ado/text_codec.h"
#include "qvr/diag/trace.h"

namespace {

using ado::hr;
using Result = CLogDbDataAcc::Result;

constexpr Result kOk = 0;
constexpr std::chrono::seconds kTimeout{300};

[[noreturn]] void missing_object() { ado::raise(ado::kPointer); }
[[noreturn]] void missing_argument() { ado::raise(ado::kInvalidArg); }

// Non-zero is true for a boolean; any other value converts, and only -1 counts as true.
bool is_true(const ado::Variant& v) {
    if (v.type() == ado::VarType::boolean) return v.bool_value() != 0;
    return v.to_bool() == -1;
}

ado::Variant field_key(std::u16string_view name) { return ado::Variant::text(std::u16string(name)); }

}  // namespace

CLogDbDataAcc::CLogDbDataAcc() = default;
CLogDbDataAcc::~CLogDbDataAcc() = default;

template <typename Body>
Result CLogDbDataAcc::guarded(Result failure, Body&& body) {
    std::lock_guard guard(lock_);
    try {
        return body();
    } catch (const ado::ComError& e) {
        CaptureComError(e);
        return failure;
    } catch (...) {
        return failure;
    }
}

void CLogDbDataAcc::CaptureComError(const ado::ComError& error) { log_stores::capture_com_error(error, lastErrorText_); }

ado::Recordset& CLogDbDataAcc::recordset() const {
    if (!recordset_) missing_object();
    return *recordset_;
}

ado::Connection& CLogDbDataAcc::connection() const {
    if (!connection_) missing_object();
    return *connection_;
}

void CLogDbDataAcc::replace_recordset() {
    if (recordset_ && recordsetOpen_) {
        // Cleared before the close, so that a recordset that cannot be closed is not tried
        // again by every later open.
        recordsetOpen_ = 0;
        recordset_->close();
    }
    recordset_.reset();
    recordset_ = std::make_unique<ado::Recordset>();
}

void CLogDbDataAcc::open_replaced(std::u16string_view source, int32_t cursorType, int32_t lockType, int32_t options) {
    recordset_->set_active_connection(connection_ ? connection_ : throw ado::ComError(ado::kPointer, {}, {}));
    recordset_->open(source, cursorType, lockType, options);
    recordsetOpen_ = 1;
}

Result CLogDbDataAcc::OpenSharedConnection(std::u16string_view first, std::u16string_view second) {
    return guarded(hr(0x80040207), [&] {
        connection_.reset();
        sharedConnection_ = true;
        connection_ = ado::shared_connection(std::u16string(first) + std::u16string(second), kTimeout);
        return kOk;
    });
}

Result CLogDbDataAcc::OpenConnection(std::u16string_view first, std::u16string_view second, int32_t) {
    return guarded(hr(0x80040207), [&] {
        connection_.reset();
        sharedConnection_ = false;
        connection_ = std::make_shared<ado::Connection>();
        connection_->set_connection_timeout(kTimeout);
        connection_->set_command_timeout(kTimeout);
        connection_->open(std::u16string(first) + std::u16string(second), {}, {}, -1);
        return kOk;
    });
}

ado::Dialect CLogDbDataAcc::ConnectionDialect() {
    std::lock_guard guard(lock_);
    return connection_ ? connection_->dialect() : ado::Dialect{};
}

int32_t CLogDbDataAcc::FieldCount() {
    std::lock_guard guard(lock_);
    // Only asked about, never a failure of its own: the last error text stays the caller's.
    try {
        if (!recordset_) return 0;
        return static_cast<int32_t>(std::min<size_t>(recordset_->field_count(), INT32_MAX));
    } catch (...) {
        return 0;
    }
}

Result CLogDbDataAcc::BeginTrans() {
    return guarded(ado::kFail, [&] {
        connection().begin_transaction();
        return kOk;
    });
}

Result CLogDbDataAcc::CommitTrans() {
    return guarded(ado::kFail, [&] {
        connection().commit();
        return kOk;
    });
}

Result CLogDbDataAcc::RollbackTrans() {
    return guarded(ado::kFail, [&] {
        connection().rollback();
        return kOk;
    });
}

Result CLogDbDataAcc::QueryValue(std::u16string_view sql, ado::Variant* out) {
    return guarded(ado::kFail, [&] {
        if (out == nullptr) missing_argument();
        *out = connection().query_value_utf8(ado::utf8_from_utf16(sql));
        return kOk;
    });
}

std::u16string CLogDbDataAcc::DatabaseName() {
    std::lock_guard guard(lock_);
    try {
        return connection_ ? connection_->default_database() : std::u16string();
    } catch (...) {
        return {};
    }
}

Result CLogDbDataAcc::WaitIdle(std::u16string_view, std::u16string_view) {
    std::lock_guard guard(lock_);
    return kOk;
}

Result CLogDbDataAcc::GetConnectionState() {
    return guarded(hr(0x80040209), [&] { return static_cast<Result>(connection().state()); });
}

Result CLogDbDataAcc::CloseAll() {
    std::lock_guard guard(lock_);
    Result result = kOk;
    // The connection is closed even when the recordset's close fails.
    const auto step = [&](auto&& body) {
        try {
            body();
        } catch (const ado::ComError& e) {
            CaptureComError(e);
        } catch (...) {
            result = hr(0x80040208);
        }
    };
    if (recordset_) {
        const bool wasOpen = recordsetOpen_ != 0;
        recordsetOpen_ = 0;
        auto dropped = std::move(recordset_);
        if (wasOpen) step([&] { dropped->close(); });
    }
    if (connection_) {
        auto dropped = std::move(connection_);
        // A shared connection closes when its last user lets it go.
        if (!sharedConnection_) step([&] { dropped->close(); });
    }
    return result;
}

Result CLogDbDataAcc::OpenRecordset(std::u16string_view sql, int32_t cursorType, int32_t lockType, int32_t options) {
    // Traced before the lock, so the trace shows what waits behind another thread's call.
    trace_Write(ado::mask_secrets(ado::cp1252_from_utf16(sql)).c_str());
    trace_Write("\r\n");
    return guarded(hr(0x8004020A), [&] {
        replace_recordset();
        open_replaced(sql, cursorType, lockType, options);
        return kOk;
    });
}

Result CLogDbDataAcc::OpenTable(std::u16string_view first, std::u16string_view second) {
    std::lock_guard guard(lock_);
    const Result opened = guarded(hr(0x8004020A), [&] {
        replace_recordset();
        if (second == u"D") {
            open_replaced(first, ado::kDynamic, ado::kOptimistic, ado::kCmdUnknown);
        } else {
            open_replaced(std::u16string(first) + std::u16string(second), ado::kStatic, ado::kOptimistic,
                          ado::kCmdUnknown);
        }
        return kOk;
    });
    if (opened != kOk) return opened;
    // Through the virtual table, as owners may refine the moves.
    ado::Variant atEnd;
    if (MoveFirst() != kOk || IsEOF(&atEnd) != kOk) return hr(0x8004020A);
    try {
        return is_true(atEnd) ? 1 : 0;
    } catch (...) {
        return hr(0x8004020A);
    }
}

Result CLogDbDataAcc::OpenTableByName(std::u16string_view tableName) {
    std::lock_guard guard(lock_);
    try {
        replace_recordset();
        recordset_->set_active_connection(connection_ ? connection_ : throw ado::ComError(ado::kPointer, {}, {}));
    } catch (const ado::ComError& e) {
        CaptureComError(e);
        return hr(0x8004020A);
    } catch (...) {
        return hr(0x8004020A);
    }
    try {
        recordset_->open(tableName, ado::kStatic, ado::kOptimistic, ado::kCmdTable);
        recordsetOpen_ = 1;
        return kOk;
    } catch (const ado::ComError& e) {
        // The caller makes a missing table; nothing is captured for either failure.
        return e.code() == ado::kNoSuchTable ? ado::kNoSuchTable : hr(0x8004020A);
    } catch (...) {
        return hr(0x8004020A);
    }
}

Result CLogDbDataAcc::CloseRecordset() {
    return guarded(hr(0x8004020A), [&] {
        if (!recordset_) return kOk;
        if (recordsetOpen_) {
            recordsetOpen_ = 0;
            recordset_->close();
        }
        recordset_.reset();
        return kOk;
    });
}

Result CLogDbDataAcc::MoveFirst() {
    return guarded(hr(0x8004020B), [&] {
        recordset().move_first();
        return kOk;
    });
}

Result CLogDbDataAcc::MoveNext() {
    return guarded(hr(0x8004020C), [&] {
        recordset().move_next();
        return kOk;
    });
}

Result CLogDbDataAcc::MovePrevious() {
    return guarded(hr(0x8004020D), [&] {
        recordset().move_previous();
        return kOk;
    });
}

// MoveLast and MoveTo take the lock like every other operation: a concurrent open replaces
// the recordset under them.
Result CLogDbDataAcc::MoveLast() {
    return guarded(hr(0x8004020E), [&] {
        recordset().move_last();
        return kOk;
    });
}

Result CLogDbDataAcc::MoveTo(int32_t rows) {
    return guarded(hr(0x8004020E), [&] {
        ado::Recordset& rs = recordset();
        rs.move_first();
        if (rows != 0) rs.move(rows);
        return kOk;
    });
}

Result CLogDbDataAcc::IsBOF(ado::Variant* out) {
    return guarded(hr(0x80040219), [&] {
        if (!out) missing_argument();
        *out = ado::Variant::boolean(recordset().bof());
        return kOk;
    });
}

Result CLogDbDataAcc::IsEOF(ado::Variant* out) {
    return guarded(hr(0x80040219), [&] {
        if (!out) missing_argument();
        *out = ado::Variant::boolean(recordset().eof());
        return kOk;
    });
}

Result CLogDbDataAcc::GetRecordCount(int32_t* out) {
    return guarded(ado::kFail, [&] {
        if (!out) missing_argument();
        const int64_t n = recordset().record_count();
        *out = n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
        return kOk;
    });
}

Result CLogDbDataAcc::GetFieldValueByName(std::u16string_view fieldName, ado::Variant* out) {
    if (!out) return ado::kInvalidArg;
    return guarded(hr(0x8004021A), [&] {
        *out = recordset().value(field_key(fieldName));
        return kOk;
    });
}

Result CLogDbDataAcc::GetFieldValueByIndex(int32_t fieldIndex, ado::Variant* out) {
    if (!out) return ado::kInvalidArg;
    return guarded(hr(0x8004020F), [&] {
        *out = recordset().value(ado::Variant::i4(fieldIndex));
        return kOk;
    });
}

Result CLogDbDataAcc::FieldEquals(ado::Variant value, std::u16string_view fieldName, ado::Variant* out) {
    return guarded(hr(0x8004021B), [&] {
        if (!out) missing_argument();
        *out = ado::Variant::boolean(recordset().value(field_key(fieldName)) == value);
        return kOk;
    });
}

Result CLogDbDataAcc::FindRowByField(ado::Variant value, std::u16string_view fieldName, ado::Variant* out) {
    return guarded(hr(0x80040217), [&]() -> Result {
        if (!out) missing_argument();
        if (MoveFirst() != kOk) return hr(0x80040217);
        for (;;) {
            ado::Recordset& rs = recordset();
            if (rs.eof()) {
                *out = ado::Variant::boolean(false);
                return kOk;
            }
            if (rs.value(field_key(fieldName)) == value) {
                *out = ado::Variant::boolean(true);
                return kOk;
            }
            // A move that fails would leave the search on the same row for ever.
            if (MoveNext() != kOk) return hr(0x80040217);
        }
    });
}

Result CLogDbDataAcc::ReadFields(int32_t count, const ado::Variant* fieldNames, ado::Variant* out) {
    return guarded(hr(0x80040216), [&] {
        if (count > 0 && (!fieldNames || !out)) missing_argument();
        ado::Recordset& rs = recordset();
        for (int32_t i = 0; i < count; ++i) out[i] = rs.value(ado::Variant::text(fieldNames[i].to_text()));
        return kOk;
    });
}

Result CLogDbDataAcc::GetDoublesByIndex(int32_t firstField, int32_t count, double* out) {
    if (!out) return ado::kInvalidArg;
    return guarded(hr(0x80040214), [&]() -> Result {
        ado::Recordset& rs = recordset();
        for (int32_t i = 0; i < count; ++i) {
            const ado::Variant v = rs.value(ado::Variant::i4(firstField + i));
            if (v.type() != ado::VarType::r8) return hr(0x80040214);
            out[i] = v.real_value();
        }
        return kOk;
    });
}

Result CLogDbDataAcc::SetFieldValue(std::u16string_view fieldName, ado::Variant value) {
    return guarded(hr(0x8004021C), [&] {
        if (value.type() == ado::VarType::bstr && value.text_value().empty()) value = ado::Variant::null();
        recordset().update(field_key(fieldName), value);
        return kOk;
    });
}

Result CLogDbDataAcc::PutFieldByIndex(int32_t fieldIndex, ado::Variant value) {
    return guarded(hr(0x80040210), [&] {
        recordset().set_value(ado::Variant::i4(fieldIndex), std::move(value));
        return kOk;
    });
}

Result CLogDbDataAcc::PutDoubleFields(int32_t firstField, int32_t count, const double* values) {
    return guarded(hr(0x80040215), [&] {
        if (count > 0 && !values) missing_argument();
        ado::Recordset& rs = recordset();
        for (int32_t i = 0; i < count; ++i) rs.set_value(ado::Variant::i4(firstField + i), ado::Variant::r8(values[i]));
        return kOk;
    });
}

Result CLogDbDataAcc::AddNewRow(int32_t, const ado::Variant* fieldList, const ado::Variant* values) {
    return guarded(hr(0x80040218), [&] {
        if (!fieldList || !values) missing_argument();
        recordset().add_new(*fieldList, *values);
        return kOk;
    });
}

Result CLogDbDataAcc::AddNew() {
    return guarded(hr(0x80040213), [&]() -> Result {
        ado::Recordset& rs = recordset();
        if (!rs.supports(ado::kSupportsAddNew)) return hr(0x80040213);
        rs.add_new();
        return kOk;
    });
}

Result CLogDbDataAcc::Update() {
    return guarded(hr(0x80040212), [&] {
        recordset().update();
        return kOk;
    });
}

Result CLogDbDataAcc::UpdateRow() { return Update(); }

Result CLogDbDataAcc::CancelUpdate() {
    return guarded(hr(0x80040211), [&] {
        recordset().cancel_update();
        return kOk;
    });
}

Result CLogDbDataAcc::DeleteCurrent() {
    return guarded(hr(0x80040211), [&] {
        recordset().delete_row(1);
        return kOk;
    });
}
