#pragma once
// An ADO-shaped recordset over one forward ODBC cursor. Every cursor type is served by the
// same forward fetch with a logical position: moves only move the position, the row is
// fetched when it is read, and a backward move runs the query again. A table open runs no
// query for rows until one is read, so appending to a table reads nothing.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ado/hresult.h"
#include "platform/ado/select_shape.h"
#include "platform/ado/statement.h"
#include "platform/ado/variant.h"

namespace ado {

class Connection;

// ADO's numbers.
enum CursorType : int { kForwardOnly = 0, kKeyset = 1, kDynamic = 2, kStatic = 3 };
enum LockType : int { kReadOnly = 1, kPessimistic = 2, kOptimistic = 3, kBatchOptimistic = 4 };
enum CommandOption : int { kCmdText = 1, kCmdTable = 2, kCmdUnknown = 8, kCmdTableDirect = 512 };
enum CursorOption : int64_t { kSupportsMovePrevious = 0x200, kSupportsAddNew = 0x1000400, kSupportsDelete = 0x1000800,
                              kSupportsUpdate = 0x1008000 };

class Recordset {
  public:
    Recordset();
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    void set_active_connection(std::shared_ptr<Connection> connection);
    // The table option (2), the table-direct option or a bare table name read every column
    // of the quoted table; anything else is a statement.
    void open(std::u16string_view source, int cursor_type = kForwardOnly, int lock_type = kReadOnly,
              int options = -1);
    void close();
    int state() const { return open_ ? 1 : 0; }

    bool bof();
    bool eof();
    // -1 while the number of rows is not known yet.
    int64_t record_count() const;
    void move_first();
    void move_next();
    void move_previous();
    void move_last();
    void move(int64_t rows);

    size_t field_count();
    std::u16string field_name(size_t index);
    // The field named by a text (letter case ignored) or numbered by an integer.
    size_t field_index(const Variant& key);
    Variant value(const Variant& key);
    void set_value(const Variant& key, Variant value);

    // A new AddNew saves the pending row first. With fields and values the row is filled and
    // saved at once (a single name and value, or two arrays).
    void add_new(const Variant& fields = Variant::missing(), const Variant& values = Variant::missing());
    void update(const Variant& fields = Variant::missing(), const Variant& values = Variant::missing());
    void cancel_update();
    // Deletes the current row (ADO's adAffectCurrent, 1, is the one form supported).
    void delete_row(int affect = 1);
    bool supports(int64_t option) const;

  private:
    Connection& connection() const;
    void require_open() const;
    void ensure_columns();
    void execute_query();
    // Fetches up to the logical position; afterwards either the row is loaded or the
    // position is before the first or past the last row.
    void materialize();
    // Reads every column of the fetched row.
    void load_row(std::vector<Variant>& row, std::vector<std::optional<std::string>>& raw);
    void require_current_row();
    void assign(const Variant& fields, const Variant& values);
    void insert_pending();
    void update_current();
    // The WHERE of a statement that touches the current row alone, with its parameters.
    std::string row_condition(std::vector<Variant>& params);
    int64_t run_row_statement(const std::string& sql, const std::vector<Variant>& params);
    [[noreturn]] void fail(HRESULT code, const std::string& text) const;

    std::shared_ptr<Connection> connection_;
    bool open_ = false;
    int cursor_type_ = kForwardOnly;
    int lock_type_ = kReadOnly;
    std::string sql_;           // UTF-8 query for the rows
    std::optional<SelectShape> shape_;  // set when rows can be written back
    std::vector<ColumnInfo> columns_;
    bool columns_known_ = false;

    std::unique_ptr<Statement> cursor_;
    int64_t fetched_ = 0;      // rows fetched by the cursor; the loaded row is fetched_ - 1
    std::optional<int64_t> count_;
    int64_t position_ = 0;     // logical position; -1 before the first row
    std::vector<Variant> row_;
    std::vector<std::optional<std::string>> raw_;  // stored text of date columns
    bool stale_ = false;       // rows changed under the cursor: run the query again
    bool on_added_row_ = false;
    bool deleted_ = false;

    bool adding_ = false;
    std::vector<std::optional<Variant>> pending_;  // values of the row being added or edited
    std::map<std::vector<size_t>, std::unique_ptr<Statement>> inserts_;
    std::vector<size_t> insert_set_;
    std::vector<Variant> insert_params_;
};

}  // namespace ado
