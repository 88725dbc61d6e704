#include "log_stores/db_access/log_db_acc.h"

#include <chrono>

#include "platform/ado/connection.h"
#include "platform/ado/connection_string.h"
#include "platform/ado/text_codec.h"
#include "qvr/diag/trace.h"

namespace {

using Result = CLogDbAcc::Result;
constexpr Result kOk = 0;
constexpr Result kFailed = 1;

void trace_masked(std::u16string_view text) {
    // Connection strings carry passwords; the trace never shows them.
    trace_Write(ado::mask_secrets(ado::cp1252_from_utf16(text)).c_str());
    trace_Write("\r\n");
}

}  // namespace

CLogDbAcc::CLogDbAcc() {
    std::lock_guard guard(lock_);
    catalog_ = std::make_unique<ado::Catalog>();
    table_ = std::make_unique<ado::CatalogTable>();
}

CLogDbAcc::~CLogDbAcc() = default;

template <typename Body>
Result CLogDbAcc::guarded(Body&& body) {
    std::lock_guard guard(lock_);
    try {
        return body();
    } catch (const ado::ComError& e) {
        log_stores::capture_com_error(e, errorText_);
        return kFailed;
    } catch (...) {
        return kFailed;
    }
}

bool CLogDbAcc::valid() {
    if (catalog_ && table_) return true;
    open_ = 0;
    return false;
}

Result CLogDbAcc::AddColumns(std::u16string_view tableName, int32_t count, const ado::Variant& names,
                             const ado::Variant& types, const ado::Variant& sizes, int32_t autoIncrement) {
    return guarded([&] {
        if (tableName.empty() || count <= 0 || names.type() != ado::VarType::array ||
            types.type() != ado::VarType::array || sizes.type() != ado::VarType::array)
            return kFailed;
        if (!valid() || !ready()) return kFailed;
        const auto n = static_cast<size_t>(count);
        if (names.items().size() < n || types.items().size() < n || sizes.items().size() < n) return kFailed;
        ado::CatalogTable table;
        table.name = std::u16string(tableName);
        for (size_t i = 0; i < n; ++i) {
            ado::CatalogColumn column{names.items()[i].to_text(), types.items()[i].to_i4(), sizes.items()[i].to_i4(),
                                      {}};
            if (autoIncrement > 0 && static_cast<size_t>(autoIncrement) == i + 1)
                column.properties[u"AutoIncrement"] = ado::Variant::boolean(true);
            table.columns.push_back(std::move(column));
        }
        catalog_->append_table(table);
        return kOk;
    });
}

Result CLogDbAcc::CreateTable(std::u16string_view tableName, std::u16string_view columnName, int32_t columnType,
                              int32_t definedSize, int32_t autoIncrement) {
    return guarded([&] {
        if (!valid()) return kFailed;
        // Nothing was made without a connection, so this is a failure, not a success.
        if (!ready()) return kFailed;
        auto table = std::make_unique<ado::CatalogTable>();
        table->name = std::u16string(tableName);
        ado::CatalogColumn column{std::u16string(columnName), columnType, definedSize, {}};
        if (autoIncrement) column.properties[u"AutoIncrement"] = ado::Variant::boolean(true);
        table->columns.push_back(std::move(column));
        catalog_->append_table(*table);
        table_ = std::move(table);
        tableOpen_ = 1;
        return kOk;
    });
}

Result CLogDbAcc::GetTableCount(int32_t* count) {
    return guarded([&] {
        if (!count || !catalog_) return kFailed;
        *count = static_cast<int32_t>(catalog_->table_count());
        return kOk;
    });
}

Result CLogDbAcc::Release() {
    std::lock_guard guard(lock_);
    table_.reset();
    catalog_.reset();
    return kOk;
}

Result CLogDbAcc::SelectTable(std::u16string_view name) {
    return guarded([&] {
        if (!catalog_) return kFailed;
        auto found = catalog_->find_table(name);
        if (!found) ado::raise(ado::kItemNotFound, {}, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
        table_ = std::make_unique<ado::CatalogTable>(std::move(*found));
        return kOk;
    });
}

Result CLogDbAcc::WaitIdle() {
    std::lock_guard guard(lock_);
    return kOk;
}

Result CLogDbAcc::TableExists(std::u16string_view name) {
    return guarded([&] {
        if (!valid() || !ready()) return kFailed;
        auto found = catalog_->find_table(name);
        if (!found) return kFailed;
        table_ = std::make_unique<ado::CatalogTable>(std::move(*found));
        tableOpen_ = 1;
        return kOk;
    });
}

Result CLogDbAcc::AppendColumn(std::u16string_view name, int32_t type, int32_t definedSize) {
    return guarded([&] {
        if (!valid() || !ready() || !tableOpen_) return kFailed;
        catalog_->append_column(*table_, name, type, definedSize);
        return kOk;
    });
}

Result CLogDbAcc::ExecuteSql(std::u16string_view statement) {
    trace_masked(statement);
    return guarded([&] {
        if (!catalog_) {
            open_ = 0;
            return kFailed;
        }
        if (!ready()) return kFailed;
        // A fresh connection per statement, so a statement never waits behind the catalog's.
        ado::Connection connection;
        connection.set_connection_timeout(std::chrono::seconds(300));
        connection.set_command_timeout(std::chrono::seconds(300));
        connection.open(connectionString_, {}, {}, -1);
        connection.execute(statement);
        connection.close();
        return kOk;
    });
}

Result CLogDbAcc::IsNotConnected() {
    std::lock_guard guard(lock_);
    return ready() ? 0 : 1;
}

Result CLogDbAcc::SetConnected() {
    std::lock_guard guard(lock_);
    connected_ = 1;
    return kOk;
}

template <typename Attach>
Result CLogDbAcc::attach(std::u16string_view text, std::u16string_view moreText, Attach&& attach_catalog) {
    const Result r = guarded([&] {
        if (!catalog_) {
            open_ = 0;
            return kFailed;
        }
        connectionString_ = std::u16string(text) + std::u16string(moreText);
        attach_catalog(*catalog_, connectionString_);
        open_ = 1;
        return kOk;
    });
    if (r != kOk) {
        std::lock_guard guard(lock_);
        open_ = 0;
    }
    return r;
}

Result CLogDbAcc::OpenConnection(std::u16string_view text, std::u16string_view moreText) {
    trace_masked(text);
    return attach(text, moreText,
                  [](ado::Catalog& catalog, const std::u16string& source) { catalog.set_active_connection(source); });
}

Result CLogDbAcc::CreateDatabase(std::u16string_view text, std::u16string_view moreText) {
    return attach(text, moreText, [](ado::Catalog& catalog, const std::u16string& source) { catalog.create(source); });
}

Result CLogDbAcc::SetColumnProperty(std::u16string_view columnName, std::u16string_view propertyName,
                                    const ado::Variant& value) {
    return guarded([&] {
        if (!valid() || !ready() || !tableOpen_) return kFailed;
        ado::CatalogColumn* column = table_->column(columnName);
        if (!column) ado::raise(ado::kItemNotFound, {}, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
        column->properties[std::u16string(propertyName)] = value;
        return kOk;
    });
}
