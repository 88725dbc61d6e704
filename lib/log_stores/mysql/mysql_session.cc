#include "log_stores/mysql/mysql_session.h"

#include <mysql.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/ado/connection.h"
#include "platform/ado/date_value.h"
#include "platform/ado/dialect.h"

namespace log_stores::mysql {
namespace {

struct StatementCloser {
    void operator()(MYSQL_STMT* statement) const { mysql_stmt_close(statement); }
};
using StatementPtr = std::unique_ptr<MYSQL_STMT, StatementCloser>;

struct ResultCloser {
    void operator()(MYSQL_RES* result) const { mysql_free_result(result); }
};
using ResultPtr = std::unique_ptr<MYSQL_RES, ResultCloser>;

constexpr unsigned long kLargestText = 1u << 20;

Failure statement_failure(MYSQL_STMT* statement, std::string context) {
    return {mysql_stmt_errno(statement), mysql_stmt_error(statement), std::move(context)};
}

ado::DateValue from_mysql_time(const MYSQL_TIME& t) {
    ado::CivilTime civil{};
    civil.year = static_cast<int>(t.year);
    civil.month = static_cast<int>(t.month);
    civil.day = static_cast<int>(t.day);
    civil.hour = static_cast<int>(t.hour);
    civil.minute = static_cast<int>(t.minute);
    civil.second = static_cast<int>(t.second);
    return ado::date_from_civil(civil);
}

// The bound buffers of one parameter list; they must stay where they are until execution.
struct ParamBuffers {
    std::vector<MYSQL_BIND> binds;
    std::vector<MYSQL_TIME> times;
    std::vector<unsigned long> lengths;

    explicit ParamBuffers(std::span<const Value> params)
        : binds(params.size()), times(params.size()), lengths(params.size()) {
        for (std::size_t i = 0; i < params.size(); ++i) {
            MYSQL_BIND& b = binds[i];
            std::memset(&b, 0, sizeof b);
            const Value& v = params[i];
            if (std::holds_alternative<std::monostate>(v)) {
                b.buffer_type = MYSQL_TYPE_NULL;
            } else if (const auto* n = std::get_if<std::int64_t>(&v)) {
                b.buffer_type = MYSQL_TYPE_LONGLONG;
                b.buffer = const_cast<std::int64_t*>(n);
            } else if (const auto* d = std::get_if<double>(&v)) {
                b.buffer_type = MYSQL_TYPE_DOUBLE;
                b.buffer = const_cast<double*>(d);
            } else if (const auto* s = std::get_if<std::string>(&v)) {
                b.buffer_type = MYSQL_TYPE_STRING;
                b.buffer = const_cast<char*>(s->data());
                lengths[i] = static_cast<unsigned long>(s->size());
                b.buffer_length = lengths[i];
                b.length = &lengths[i];
            } else {
                fill_time(std::get<ado::DateValue>(v), times[i]);
                b.buffer_type = MYSQL_TYPE_DATETIME;
                b.buffer = &times[i];
            }
        }
    }
};

// One fetched column's buffers, bound by its kind.
struct ColumnBuffer {
    enum class Kind { integer, real, text, time } kind = Kind::text;
    std::int64_t integer = 0;
    double real = 0;
    MYSQL_TIME time{};
    std::vector<char> text;
    unsigned long length = 0;
    my_bool null = 0;
    my_bool error = 0;
};

ColumnBuffer::Kind kind_of(enum_field_types type) {
    switch (type) {
        case MYSQL_TYPE_TINY:
        case MYSQL_TYPE_SHORT:
        case MYSQL_TYPE_LONG:
        case MYSQL_TYPE_INT24:
        case MYSQL_TYPE_LONGLONG:
        case MYSQL_TYPE_YEAR:
        case MYSQL_TYPE_BIT:
            return ColumnBuffer::Kind::integer;
        case MYSQL_TYPE_FLOAT:
        case MYSQL_TYPE_DOUBLE:
        case MYSQL_TYPE_DECIMAL:
        case MYSQL_TYPE_NEWDECIMAL:
            return ColumnBuffer::Kind::real;
        case MYSQL_TYPE_DATE:
        case MYSQL_TYPE_DATETIME:
        case MYSQL_TYPE_TIMESTAMP:
            return ColumnBuffer::Kind::time;
        default:
            return ColumnBuffer::Kind::text;
    }
}

Value value_of(const ColumnBuffer& c) {
    if (c.null) return std::monostate{};
    switch (c.kind) {
        case ColumnBuffer::Kind::integer:
            return c.integer;
        case ColumnBuffer::Kind::real:
            return c.real;
        case ColumnBuffer::Kind::time:
            return from_mysql_time(c.time);
        case ColumnBuffer::Kind::text:
            break;
    }
    return std::string(c.text.data(), std::min<std::size_t>(c.length, c.text.size()));
}

std::variant<Result, Failure> run_on(MYSQL* handle, std::string_view sql, std::span<const Value> params);

}  // namespace

void fill_time(ado::DateValue date, MYSQL_TIME& t) {
    const ado::CivilTime civil = ado::civil_from_date(date);
    t = MYSQL_TIME{};
    t.year = static_cast<unsigned>(civil.year);
    t.month = static_cast<unsigned>(civil.month);
    t.day = static_cast<unsigned>(civil.day);
    t.hour = static_cast<unsigned>(civil.hour);
    t.minute = static_cast<unsigned>(civil.minute);
    t.second = static_cast<unsigned>(civil.second);
    t.time_type = MYSQL_TIMESTAMP_DATETIME;
}

struct Session::Link {
    struct Closer {
        void operator()(MYSQL* handle) const { mysql_close(handle); }
    };
    std::unique_ptr<MYSQL, Closer> handle;
    bool shared = false;
    // Statements of the sessions that share the link take turns.
    std::mutex mutex;
    std::atomic<bool> broken{false};
    std::atomic<std::size_t> maxPacket{0};

    // A failure of the link itself, not of a statement: the client's own error numbers.
    void note(unsigned code) {
        if (code >= 2000) broken = true;
    }
};

namespace {

struct SharedLinks {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<Session::Link>> links;
};

SharedLinks& shared_links() {
    static SharedLinks s;
    return s;
}

std::string link_key(const ConnectionKeys& keys) {
    return keys.host + '\0' + std::to_string(keys.port) + '\0' + keys.user + '\0' + keys.password + '\0' +
           keys.database;
}

std::variant<std::shared_ptr<Session::Link>, Failure> open_link(const ConnectionKeys& keys) {
    using Handle = std::unique_ptr<MYSQL, Session::Link::Closer>;
    Handle handle(mysql_init(nullptr));
    if (!handle) return Failure{0, {}, "CAN'T OPEN DATABASE"};
    mysql_options(handle.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
    // A server that accepts and then never answers (stopped, cut off) fails the call after
    // the stores' time-out instead of holding the logging thread for ever.
    const auto wait = static_cast<unsigned>(ado::default_timeout().count());
    mysql_options(handle.get(), MYSQL_OPT_CONNECT_TIMEOUT, &wait);
    mysql_options(handle.get(), MYSQL_OPT_READ_TIMEOUT, &wait);
    mysql_options(handle.get(), MYSQL_OPT_WRITE_TIMEOUT, &wait);
    if (mysql_real_connect(handle.get(), keys.host.c_str(), keys.user.c_str(), keys.password.c_str(),
                           keys.database.c_str(), keys.port, nullptr, 0) == nullptr) {
        // The connector's text names the user and host, never the password.
        return Failure{mysql_errno(handle.get()), mysql_error(handle.get()), "CAN'T CONNECT TO DATABASE"};
    }
    if (mysql_query(handle.get(), ado::kRealAsFloatSession) != 0)
        return Failure{mysql_errno(handle.get()), mysql_error(handle.get()), "CAN'T CONNECT TO DATABASE"};
    auto link = std::make_shared<Session::Link>();
    link->handle = std::move(handle);
    return link;
}

}  // namespace

Session::Session() = default;
Session::~Session() = default;

void Session::close() { link_.reset(); }

bool Session::shared() const { return link_ && link_->shared; }

st_mysql* Session::raw() const { return link_ && !link_->shared ? link_->handle.get() : nullptr; }

std::optional<Failure> Session::connect(const ConnectionKeys& keys) {
    close();
    auto opened = open_link(keys);
    if (auto* failure = std::get_if<Failure>(&opened)) return std::move(*failure);
    link_ = std::get<std::shared_ptr<Link>>(std::move(opened));
    return std::nullopt;
}

std::optional<Failure> Session::connect_shared(const ConnectionKeys& keys) {
    close();
    SharedLinks& all = shared_links();
    const std::string key = link_key(keys);
    std::lock_guard guard(all.mutex);
    if (auto it = all.links.find(key); it != all.links.end()) {
        if (auto held = it->second.lock()) {
            std::lock_guard turn(held->mutex);
            // A server that went away since is noticed here, not by the statement that follows.
            if (!held->broken && mysql_ping(held->handle.get()) == 0) {
                link_ = std::move(held);
                return std::nullopt;
            }
        }
        all.links.erase(it);
    }
    auto opened = open_link(keys);
    if (auto* failure = std::get_if<Failure>(&opened)) return std::move(*failure);
    link_ = std::get<std::shared_ptr<Link>>(std::move(opened));
    link_->shared = true;
    all.links[key] = link_;
    return std::nullopt;
}

std::size_t Session::shared_count() {
    SharedLinks& all = shared_links();
    std::lock_guard guard(all.mutex);
    std::size_t n = 0;
    for (const auto& [key, weak] : all.links) n += weak.expired() ? 0 : 1;
    return n;
}

std::variant<Result, Failure> Session::run(std::string_view sql, std::span<const Value> params) {
    if (!link_) return Failure{0, "not connected", "CAN'T CONNECT TO DATABASE"};
    std::lock_guard turn(link_->mutex);
    auto result = run_on(link_->handle.get(), sql, params);
    if (const auto* failure = std::get_if<Failure>(&result)) link_->note(failure->code);
    return result;
}

namespace {

std::variant<Result, Failure> run_on(MYSQL* handle, std::string_view sql, std::span<const Value> params) {
    StatementPtr statement(mysql_stmt_init(handle));
    if (!statement)
        return Failure{mysql_errno(handle), mysql_error(handle), "mysql_stmt_init(), out of memory"};
    if (mysql_stmt_prepare(statement.get(), sql.data(), static_cast<unsigned long>(sql.size())) != 0)
        return statement_failure(statement.get(), "mysql_stmt_prepare() failed");
    if (mysql_stmt_param_count(statement.get()) != params.size())
        return Failure{0, "parameter count does not match the statement", "mysql_stmt_bind_param() failed"};
    ParamBuffers buffers(params);
    if (!params.empty() && mysql_stmt_bind_param(statement.get(), buffers.binds.data()) != 0)
        return statement_failure(statement.get(), "mysql_stmt_bind_param() failed");
    if (mysql_stmt_execute(statement.get()) != 0)
        return statement_failure(statement.get(), "mysql_stmt_execute() failed");

    Result result;
    ResultPtr meta(mysql_stmt_result_metadata(statement.get()));
    if (!meta) {
        result.affected = mysql_stmt_affected_rows(statement.get());
        return result;
    }
    const unsigned count = mysql_num_fields(meta.get());
    const MYSQL_FIELD* fields = mysql_fetch_fields(meta.get());
    std::vector<ColumnBuffer> columns(count);
    std::vector<MYSQL_BIND> binds(count);
    for (unsigned i = 0; i < count; ++i) {
        ColumnBuffer& c = columns[i];
        MYSQL_BIND& b = binds[i];
        std::memset(&b, 0, sizeof b);
        c.kind = kind_of(fields[i].type);
        switch (c.kind) {
            case ColumnBuffer::Kind::integer:
                b.buffer_type = MYSQL_TYPE_LONGLONG;
                b.buffer = &c.integer;
                break;
            case ColumnBuffer::Kind::real:
                b.buffer_type = MYSQL_TYPE_DOUBLE;
                b.buffer = &c.real;
                break;
            case ColumnBuffer::Kind::time:
                b.buffer_type = MYSQL_TYPE_DATETIME;
                b.buffer = &c.time;
                break;
            case ColumnBuffer::Kind::text:
                c.text.resize(std::clamp<unsigned long>(fields[i].length, 1, kLargestText));
                b.buffer_type = MYSQL_TYPE_STRING;
                b.buffer = c.text.data();
                b.buffer_length = static_cast<unsigned long>(c.text.size());
                break;
        }
        b.length = &c.length;
        b.is_null = &c.null;
        b.error = &c.error;
    }
    if (mysql_stmt_bind_result(statement.get(), binds.data()) != 0)
        return statement_failure(statement.get(), "mysql_stmt_bind_result() failed");
    for (;;) {
        const int status = mysql_stmt_fetch(statement.get());
        if (status == MYSQL_NO_DATA) break;
        if (status == 1) return statement_failure(statement.get(), "mysql_stmt_fetch() failed");
        Row row;
        row.reserve(count);
        for (const ColumnBuffer& c : columns) row.push_back(value_of(c));
        result.rows.push_back(std::move(row));
    }
    return result;
}

}  // namespace

std::variant<std::optional<std::int64_t>, Failure> Session::query_text(const std::string& sql) {
    if (!link_) return Failure{0, "not connected", "CAN'T CONNECT TO DATABASE"};
    std::lock_guard turn(link_->mutex);
    MYSQL* handle = link_->handle.get();
    const auto failed = [&] {
        link_->note(mysql_errno(handle));
        return Failure{mysql_errno(handle), mysql_error(handle), "SELECT failed"};
    };
    if (mysql_real_query(handle, sql.data(), static_cast<unsigned long>(sql.size())) != 0) return failed();
    ResultPtr result(mysql_store_result(handle));
    if (!result) {
        if (mysql_field_count(handle) != 0) return failed();
        return std::optional<std::int64_t>{};
    }
    const MYSQL_ROW row = mysql_fetch_row(result.get());
    if (row == nullptr || row[0] == nullptr) return std::optional<std::int64_t>{};
    try {
        return std::optional<std::int64_t>{std::stoll(row[0])};
    } catch (...) {
        return std::optional<std::int64_t>{};
    }
}

std::size_t Session::max_packet() {
    if (!link_) return 1u << 20;
    if (link_->maxPacket == 0) {
        std::size_t packet = 1u << 20;  // the smallest the server allows
        auto r = run("SELECT @@max_allowed_packet");
        if (auto* ok = std::get_if<Result>(&r); ok && !ok->rows.empty())
            if (const auto* n = std::get_if<std::int64_t>(&ok->rows[0][0]); n && *n > 0)
                packet = static_cast<std::size_t>(*n);
        link_->maxPacket = packet;
    }
    return link_->maxPacket;
}

std::string quoted(std::string_view name) {
    const auto nul = name.find('\0');
    if (nul != std::string_view::npos) name = name.substr(0, nul);
    std::string out = "`";
    for (char c : name) {
        out += c;
        if (c == '`') out += '`';
    }
    out += '`';
    return out;
}

}  // namespace log_stores::mysql
