#include "platform/ado/recordset.h"

#include <algorithm>
#include <limits>

#include "platform/ado/com_error.h"
#include "platform/ado/connection.h"
#include "platform/ado/text_codec.h"

namespace ado {
namespace {

constexpr HRESULT kObjectOpen = hr(0x800A0E79);
constexpr int64_t kPastEnd = std::numeric_limits<int64_t>::max() / 4;

const char* const kNoCurrentRow =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current "
    "record.";

bool equal_no_case(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
        if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
        if (x != y) return false;
    }
    return true;
}

bool is_date_type(SQLSMALLINT t) {
    return t == SQL_TYPE_TIMESTAMP || t == SQL_TYPE_DATE || t == SQL_TIMESTAMP || t == SQL_DATE;
}

bool is_quoted(std::string_view name) {
    return !name.empty() && (name.front() == '"' || name.front() == '`' || name.front() == '[');
}

}  // namespace

Recordset::Recordset() = default;
Recordset::~Recordset() = default;

void Recordset::set_active_connection(std::shared_ptr<Connection> connection) {
    if (open_) fail(kObjectOpen, "Operation is not allowed when the object is open.");
    connection_ = std::move(connection);
}

Connection& Recordset::connection() const {
    if (!connection_ || connection_->state() == 0)
        raise(hr(0x800A0E7D), connection_ ? connection_->provider() : std::string(),
              "The connection cannot be used to perform this operation. It is either closed or invalid in this "
              "context.");
    return *connection_;
}

void Recordset::fail(HRESULT code, const std::string& text) const {
    raise(code, connection_ ? connection_->provider() : std::string(), text);
}

void Recordset::require_open() const {
    if (!open_) fail(kObjectClosed, "Operation is not allowed when the object is closed.");
}

void Recordset::open(std::u16string_view source, int cursor_type, int lock_type, int options) {
    if (open_) fail(kObjectOpen, "Operation is not allowed when the object is open.");
    Connection& c = connection();
    const std::string text = utf8_from_utf16(source);
    const bool table = options == kCmdTable || options == kCmdTableDirect ||
                       ((options == kCmdUnknown || options == -1) && is_table_name(text));
    cursor_type_ = cursor_type;
    lock_type_ = lock_type;
    columns_.clear();
    columns_known_ = false;
    fetched_ = 0;
    count_.reset();
    position_ = 0;
    stale_ = on_added_row_ = deleted_ = adding_ = false;
    pending_.clear();
    inserts_.clear();
    if (table) {
        const std::string name = is_quoted(text) ? text : c.dialect().quote_identifier(text);
        sql_ = "SELECT * FROM " + name;
        shape_ = SelectShape{name, {}};
        // The columns, and whether the table exists, without reading a row.
        Statement probe(c);
        probe.exec_direct(sql_ + " WHERE 1=0");
        columns_ = probe.describe();
        columns_known_ = true;
    } else {
        sql_ = text;
        shape_ = simple_select(text);
        execute_query();
    }
    open_ = true;
}

void Recordset::close() {
    require_open();
    cursor_.reset();
    inserts_.clear();
    pending_.clear();
    row_.clear();
    raw_.clear();
    open_ = false;
}

void Recordset::execute_query() {
    cursor_.reset();
    auto statement = std::make_unique<Statement>(connection());
    statement->exec_direct(sql_);
    columns_ = statement->describe();
    columns_known_ = true;
    cursor_ = std::move(statement);
    fetched_ = 0;
    count_.reset();
    stale_ = false;
    row_.clear();
    raw_.clear();
}

void Recordset::ensure_columns() {
    if (!columns_known_) execute_query();
}

void Recordset::materialize() {
    if (position_ < 0 || on_added_row_) return;
    if (!stale_ && count_ && position_ >= *count_) {
        position_ = *count_;
        return;
    }
    if (!cursor_ || stale_ || position_ < fetched_ - 1) execute_query();
    if (fetched_ - 1 == position_ && !row_.empty()) return;
    while (fetched_ - 1 < position_) {
        if (!cursor_->fetch()) {
            count_ = fetched_;
            position_ = fetched_;
            row_.clear();
            return;
        }
        ++fetched_;
    }
    load_row(row_, raw_);
}

void Recordset::load_row(std::vector<Variant>& row, std::vector<std::optional<std::string>>& raw) {
    // The vectors keep their storage from row to row; only date columns keep their text.
    row.resize(columns_.size());
    raw.resize(columns_.size());
    for (size_t i = 0; i < columns_.size(); ++i) {
        raw[i].reset();
        if (!is_date_type(columns_[i].sql_type)) {
            row[i] = cursor_->value(i, columns_[i]);
            continue;
        }
        std::string text;
        row[i] = cursor_->value(i, columns_[i], &text);
        if (row[i].type() == VarType::date) raw[i] = std::move(text);
    }
}

bool Recordset::bof() {
    require_open();
    if (on_added_row_) return false;
    materialize();
    return position_ < 0 || (count_ && *count_ == 0);
}

bool Recordset::eof() {
    require_open();
    if (on_added_row_) return false;
    materialize();
    return count_ && position_ >= *count_;
}

int64_t Recordset::record_count() const {
    require_open();
    return count_ && !stale_ ? *count_ : -1;
}

void Recordset::require_current_row() {
    if (on_added_row_) return;
    materialize();
    if (deleted_ || position_ < 0 || (count_ && position_ >= *count_) || row_.empty())
        fail(kBofOrEof, kNoCurrentRow);
}

void Recordset::move_first() {
    require_open();
    update();
    if (on_added_row_) stale_ = true;
    on_added_row_ = deleted_ = false;
    position_ = 0;
}

void Recordset::move_next() {
    require_open();
    update();
    if (on_added_row_) {
        // The added row is the last one.
        on_added_row_ = false;
        stale_ = true;
        position_ = kPastEnd;
        return;
    }
    if (eof()) fail(kBofOrEof, kNoCurrentRow);
    if (deleted_) {
        // The rows behind the deleted one have moved up by one.
        deleted_ = false;
        stale_ = true;
        return;
    }
    ++position_;
}

void Recordset::move_previous() {
    require_open();
    if (cursor_type_ == kForwardOnly) fail(kNotSupported, "Current provider does not support backward moves.");
    update();
    if (on_added_row_) {
        move_last();
        return;
    }
    if (bof()) fail(kBofOrEof, kNoCurrentRow);
    if (deleted_) deleted_ = false, stale_ = true;
    --position_;
}

void Recordset::move_last() {
    require_open();
    update();
    if (on_added_row_) stale_ = true;
    on_added_row_ = deleted_ = false;
    if (!stale_ && count_ && *count_ > 0 && fetched_ == *count_ && !row_.empty() && position_ == fetched_ - 1)
        return;
    // The last row cannot be fetched again once the cursor has passed it, so every row is read.
    std::vector<Variant> last;
    std::vector<std::optional<std::string>> last_raw;
    if (!cursor_ || stale_ || count_ || (fetched_ > 0 && row_.empty())) {
        execute_query();
    } else if (fetched_ > 0) {
        last = row_;
        last_raw = raw_;
    }
    for (;;) {
        if (!cursor_->fetch()) break;
        ++fetched_;
        load_row(last, last_raw);
    }
    count_ = fetched_;
    if (fetched_ == 0) {
        position_ = 0;
        fail(kBofOrEof, kNoCurrentRow);
    }
    // The cursor sits past the end; the loaded row stays valid as the last one.
    row_ = std::move(last);
    raw_ = std::move(last_raw);
    position_ = fetched_ - 1;
    fetched_ = position_ + 1;
}

void Recordset::move(int64_t rows) {
    require_open();
    if (rows == 0) return;
    update();
    if (rows < 0 && cursor_type_ == kForwardOnly) fail(kNotSupported, "Current provider does not support backward moves.");
    if (on_added_row_) {
        on_added_row_ = false;
        stale_ = true;
        position_ = rows > 0 ? kPastEnd : 0;
        return;
    }
    deleted_ = false;
    const int64_t base = std::max<int64_t>(position_, -1);
    position_ = std::clamp<int64_t>(base + rows, -1, kPastEnd);
    if (count_ && !stale_ && position_ > *count_) position_ = *count_;
}

size_t Recordset::field_count() {
    require_open();
    ensure_columns();
    return columns_.size();
}

std::u16string Recordset::field_name(size_t index) {
    require_open();
    ensure_columns();
    if (index >= columns_.size()) fail(kItemNotFound, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
    return columns_[index].name;
}

size_t Recordset::field_index(const Variant& key) {
    require_open();
    ensure_columns();
    if (key.type() == VarType::bstr) {
        for (size_t i = 0; i < columns_.size(); ++i)
            if (equal_no_case(columns_[i].name, key.text_value())) return i;
    } else if (key.type() != VarType::empty && key.type() != VarType::null && key.type() != VarType::error) {
        const int64_t i = key.to_i8();
        if (i >= 0 && static_cast<size_t>(i) < columns_.size()) return static_cast<size_t>(i);
    }
    fail(kItemNotFound, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

Variant Recordset::value(const Variant& key) {
    const size_t i = field_index(key);
    if (adding_) return pending_[i] ? *pending_[i] : Variant::null();
    require_current_row();
    if (i < pending_.size() && pending_[i]) return *pending_[i];
    return row_[i];
}

void Recordset::set_value(const Variant& key, Variant v) {
    const size_t i = field_index(key);
    if (!supports(kSupportsUpdate)) fail(kNotSupported, "Current Recordset does not support updating.");
    if (!adding_) require_current_row();
    pending_.resize(columns_.size());
    pending_[i] = std::move(v);
}

void Recordset::assign(const Variant& fields, const Variant& values) {
    if (fields.type() == VarType::array) {
        if (values.type() != VarType::array || values.items().size() != fields.items().size())
            fail(kInvalidArg, "The field list and the value list differ in length.");
        for (size_t k = 0; k < fields.items().size(); ++k) set_value(fields.items()[k], values.items()[k]);
    } else {
        set_value(fields, values);
    }
}

void Recordset::add_new(const Variant& fields, const Variant& values) {
    require_open();
    if (!supports(kSupportsAddNew)) fail(kNotSupported, "Current Recordset does not support updating.");
    update();
    ensure_columns();
    adding_ = true;
    pending_.assign(columns_.size(), std::nullopt);
    if (!fields.is_missing()) {
        assign(fields, values);
        update();
    }
}

void Recordset::update(const Variant& fields, const Variant& values) {
    require_open();
    if (!fields.is_missing()) assign(fields, values);
    if (adding_) {
        insert_pending();
    } else if (std::any_of(pending_.begin(), pending_.end(), [](const auto& v) { return v.has_value(); })) {
        update_current();
    }
}

void Recordset::cancel_update() {
    require_open();
    adding_ = false;
    pending_.clear();
}

void Recordset::insert_pending() {
    Connection& c = connection();
    // Kept between rows, so that appending allocates nothing per row.
    std::vector<size_t>& set = insert_set_;
    std::vector<Variant>& params = insert_params_;
    set.clear();
    params.clear();
    for (size_t i = 0; i < pending_.size(); ++i)
        if (pending_[i]) set.push_back(i), params.push_back(std::move(*pending_[i]));
    auto& statement = inserts_[set];
    if (!statement) {
        std::string sql = "INSERT INTO " + shape_->table;
        if (set.empty()) {
            sql += c.dialect().engine() == Engine::mariadb ? " () VALUES ()" : " DEFAULT VALUES";
        } else if (set.size() == columns_.size()) {
            // Every column in table order: no column list, which the engine need not resolve
            // name by name on each execution.
            std::string marks;
            for (size_t k = 0; k < set.size(); ++k) marks += k ? ", ?" : "?";
            sql += " VALUES (" + marks + ")";
        } else {
            std::string names, marks;
            for (const size_t i : set) {
                if (!names.empty()) names += ", ", marks += ", ";
                names += c.dialect().quote_identifier(utf8_from_utf16(columns_[i].name));
                marks += '?';
            }
            sql += " (" + names + ") VALUES (" + marks + ")";
        }
        auto fresh = std::make_unique<Statement>(c);
        fresh->prepare(sql);
        statement = std::move(fresh);
    }
    try {
        statement->bind(params);
        statement->execute();
    } catch (...) {
        // The row stays pending: the caller may cancel it or change it and try again.
        for (size_t k = 0; k < set.size(); ++k) pending_[set[k]] = std::move(params[k]);
        throw;
    }
    // The added row becomes the current one (the vectors keep their storage).
    row_.resize(columns_.size());
    raw_.resize(columns_.size());
    for (size_t i = 0, k = 0; i < columns_.size(); ++i) {
        raw_[i].reset();
        if (k < set.size() && set[k] == i) {
            if (params[k].type() == VarType::date) raw_[i] = canonical_date_text(params[k].date_value());
            row_[i] = std::move(params[k++]);
        } else {
            row_[i] = Variant::null();
        }
    }
    adding_ = false;
    pending_.clear();
    on_added_row_ = true;
    deleted_ = false;
    stale_ = true;
    count_.reset();
}

std::string Recordset::row_condition(std::vector<Variant>& params) {
    const Dialect& d = connection().dialect();
    std::string where;
    if (!shape_->where.empty()) where = "(" + shape_->where + ")";
    for (size_t i = 0; i < columns_.size(); ++i) {
        if (columns_[i].approximate()) continue;
        int placeholders = 1;
        const std::string test = d.null_safe_equal(d.quote_identifier(utf8_from_utf16(columns_[i].name)), placeholders);
        if (!where.empty()) where += " AND ";
        where += test;
        // The stored text of a date, so that a form other than the canonical one matches.
        const Variant v = d.dates_as_text() && raw_.size() > i && raw_[i] ? Variant::text(utf16_from_utf8(*raw_[i]))
                                                                         : row_[i];
        for (int k = 0; k < placeholders; ++k) params.push_back(v);
    }
    return where.empty() ? "1=1" : where;
}

int64_t Recordset::run_row_statement(const std::string& sql, const std::vector<Variant>& params) {
    Statement statement(connection());
    statement.prepare(sql);
    statement.bind(params);
    statement.execute();
    const int64_t affected = statement.row_count();
    if (affected != 1) fail(kRowNotLocated, "Row cannot be located for updating. Some values may have been changed since it was last read.");
    return affected;
}

void Recordset::update_current() {
    require_current_row();
    if (!supports(kSupportsUpdate)) fail(kNotSupported, "Current Recordset does not support updating.");
    const Dialect& d = connection().dialect();
    std::string set;
    std::vector<Variant> params;
    for (size_t i = 0; i < pending_.size(); ++i) {
        if (!pending_[i]) continue;
        if (!set.empty()) set += ", ";
        set += d.quote_identifier(utf8_from_utf16(columns_[i].name)) + " = ?";
        params.push_back(*pending_[i]);
    }
    const std::string where = row_condition(params);
    const std::string& t = shape_->table;
    std::string sql;
    switch (d.engine()) {
        case Engine::sqlite:
            sql = "UPDATE " + t + " SET " + set + " WHERE rowid = (SELECT rowid FROM " + t + " WHERE " + where +
                  " LIMIT 1)";
            break;
        case Engine::mariadb:
            sql = "UPDATE " + t + " SET " + set + " WHERE " + where + " LIMIT 1";
            break;
        case Engine::sql_server:
            sql = "UPDATE TOP (1) " + t + " SET " + set + " WHERE " + where;
            break;
        default:
            sql = "UPDATE " + t + " SET " + set + " WHERE " + where;
    }
    run_row_statement(sql, params);
    for (size_t i = 0; i < pending_.size(); ++i) {
        if (!pending_[i]) continue;
        row_[i] = *pending_[i];
        raw_[i] = row_[i].type() == VarType::date ? std::optional(canonical_date_text(row_[i].date_value()))
                                                  : std::nullopt;
    }
    pending_.clear();
}

void Recordset::delete_row(int affect) {
    require_open();
    if (affect != 1) fail(kNotSupported, "Only the current record can be deleted.");
    if (!supports(kSupportsDelete)) fail(kNotSupported, "Current Recordset does not support updating.");
    if (adding_) cancel_update();
    require_current_row();
    pending_.clear();
    const Dialect& d = connection().dialect();
    std::vector<Variant> params;
    const std::string where = row_condition(params);
    const std::string& t = shape_->table;
    std::string sql;
    switch (d.engine()) {
        case Engine::sqlite:
            sql = "DELETE FROM " + t + " WHERE rowid = (SELECT rowid FROM " + t + " WHERE " + where + " LIMIT 1)";
            break;
        case Engine::mariadb:
            sql = "DELETE FROM " + t + " WHERE " + where + " LIMIT 1";
            break;
        case Engine::sql_server:
            sql = "DELETE TOP (1) FROM " + t + " WHERE " + where;
            break;
        default:
            sql = "DELETE FROM " + t + " WHERE " + where;
    }
    run_row_statement(sql, params);
    if (on_added_row_) {
        on_added_row_ = false;
        position_ = kPastEnd;
    }
    deleted_ = true;
    stale_ = true;
    count_.reset();
}

bool Recordset::supports(int64_t option) const {
    if (!open_) return false;
    constexpr int64_t editing = 0x400 | 0x800 | 0x8000;
    constexpr int64_t known = editing | 0x200 | 0x1000000;
    if ((option & ~known) != 0) return false;
    if ((option & editing) && (!shape_ || lock_type_ == kReadOnly)) return false;
    if ((option & 0x200) && cursor_type_ == kForwardOnly) return false;
    return true;
}

}  // namespace ado
