#pragma once
// The schema side of the database back end of the logged-data stores: a catalog of the
// database and a current table; creates databases, tables and columns, looks tables up and
// runs statements that return no rows. Results are 0 for success and 1 for failure; the
// reason is in the kept error text and the last error.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "log_stores/db_access/com_error_report.h"
#include "platform/ado/catalog.h"
#include "platform/ado/variant.h"

class CLogDbAcc {
  public:
    using Result = int32_t;

    CLogDbAcc();
    ~CLogDbAcc();
    CLogDbAcc(const CLogDbAcc&) = delete;
    CLogDbAcc& operator=(const CLogDbAcc&) = delete;

    // The three arrays are parallel; autoIncrement names the 1-based column that becomes the
    // auto-increment key (0: none).
    virtual Result AddColumns(std::u16string_view tableName, int32_t count, const ado::Variant& names,
                              const ado::Variant& types, const ado::Variant& sizes, int32_t autoIncrement);
    virtual Result CreateTable(std::u16string_view tableName, std::u16string_view columnName, int32_t columnType,
                               int32_t definedSize, int32_t autoIncrement);
    virtual Result GetTableCount(int32_t* count);
    virtual Result Release();
    virtual Result SelectTable(std::u16string_view name);
    virtual Result WaitIdle();
    virtual Result TableExists(std::u16string_view name);
    virtual Result AppendColumn(std::u16string_view name, int32_t type, int32_t definedSize);
    virtual Result ExecuteSql(std::u16string_view statement);
    virtual Result IsNotConnected();
    virtual Result SetConnected();
    virtual Result OpenConnection(std::u16string_view text, std::u16string_view moreText);
    virtual Result CreateDatabase(std::u16string_view text, std::u16string_view moreText);
    virtual Result SetColumnProperty(std::u16string_view columnName, std::u16string_view propertyName,
                                     const ado::Variant& value);

    const char* ErrorText() const { return errorText_; }
    // The current table, as the catalog describes it (nothing after Release).
    const ado::CatalogTable* CurrentTable() const { return table_.get(); }

  private:
    bool valid();
    bool ready() const { return connected_ && open_; }
    template <typename Body>
    Result guarded(Body&& body);
    // Takes the connection string and opens (or creates) the catalog's database with it;
    // any failure leaves the object not open.
    template <typename Attach>
    Result attach(std::u16string_view text, std::u16string_view moreText, Attach&& attach_catalog);

    std::unique_ptr<ado::Catalog> catalog_;
    std::unique_ptr<ado::CatalogTable> table_;
    std::u16string connectionString_;
    int32_t open_ = 0;
    int32_t connected_ = 0;
    int32_t tableOpen_ = 0;
    std::recursive_mutex lock_;
    char errorText_[log_stores::kErrorTextSize] = {};
};
