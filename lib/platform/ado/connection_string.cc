#include "platform/ado/connection_string.h"

#include <cctype>
#include <cstdlib>

namespace ado {
namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool equal_no_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool starts_no_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equal_no_case(text.substr(0, prefix.size()), prefix);
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// The end (one past) of a value that starts at `i`: a quoted or braced value runs to its
// closing mark (doubled marks stand for themselves), anything else to the next ';'.
size_t value_end(std::string_view text, size_t i, std::string* out) {
    if (i < text.size() && (text[i] == '\'' || text[i] == '"' || text[i] == '{')) {
        const char close = text[i] == '{' ? '}' : text[i];
        for (size_t k = i + 1; k < text.size(); ++k) {
            if (text[k] != close) {
                if (out) *out += text[k];
                continue;
            }
            if (k + 1 < text.size() && text[k + 1] == close) {
                if (out) *out += close;
                ++k;
                continue;
            }
            return k + 1;
        }
        return text.size();  // unterminated: the rest is the value
    }
    const size_t end = text.find(';', i);
    const size_t stop = end == std::string_view::npos ? text.size() : end;
    if (out) *out = std::string(trim(text.substr(i, stop - i)));
    return stop;
}

std::string env_or(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

ProviderTarget refused(std::string provider, HRESULT code, std::string text) {
    ProviderTarget t;
    t.kind = ProviderKind::unavailable;
    t.provider = std::move(provider);
    t.refusal = code;
    t.refusal_text = std::move(text);
    return t;
}

std::string login_timeout_pair(const ProviderOptions& o) {
    return odbc_pair("Timeout", std::to_string(o.login_timeout.count() * 1000));
}

ProviderTarget map_sqlite(const std::vector<ConnectionKey>& keys, const DriverPaths& drivers,
                          const ProviderOptions& options) {
    auto path = find_key(keys, "Data Source");
    if (!path || path->empty()) return refused("SQLite.File", kFail, "no Data Source names the database file");
    for (char& c : *path)
        if (c == '\\') c = '/';
    ProviderTarget t;
    t.kind = ProviderKind::sqlite_file;
    t.provider = "SQLite.File";
    t.odbc = odbc_pair("Driver", drivers.sqlite) + ";" + odbc_pair("Database", *path) + ";JournalMode=WAL;" +
             login_timeout_pair(options);
    // Opening never makes a database: a mistyped path fails instead of starting an empty one.
    if (!options.create_database) t.odbc += ";NoCreat=1";
    const auto mode = find_key(keys, "Mode");
    if (mode && equal_no_case(trim(*mode), "read")) t.odbc += ";ReadOnly=1";
    return t;
}

// The value of the last key named either way (letter case ignored).
std::optional<std::string> find_last_of_keys(const std::vector<ConnectionKey>& keys, std::string_view name,
                                             std::string_view other) {
    for (auto it = keys.rbegin(); it != keys.rend(); ++it)
        if (equal_no_case(it->name, name) || equal_no_case(it->name, other)) return it->value;
    return std::nullopt;
}

ProviderTarget map_sql_server(const std::vector<ConnectionKey>& keys, const DriverPaths& drivers) {
    const auto integrated = find_key(keys, "Integrated Security");
    const auto trusted = find_key(keys, "Trusted_Connection");
    if ((integrated && !equal_no_case(*integrated, "false") && !equal_no_case(*integrated, "no")) ||
        (trusted && (equal_no_case(*trusted, "yes") || equal_no_case(*trusted, "true"))))
        return refused("SQLOLEDB", kFail,
                       "integrated security is not available on this platform: give User ID and Password");
    std::string server = find_key(keys, "Data Source").value_or(find_key(keys, "Server").value_or(""));
    std::string port;
    if (const auto comma = server.find(','); comma != std::string::npos) {
        port = std::string(trim(std::string_view(server).substr(comma + 1)));
        server = std::string(trim(std::string_view(server).substr(0, comma)));
    }
    ProviderTarget t;
    t.kind = ProviderKind::sql_server;
    t.provider = "SQLOLEDB";
    t.odbc = odbc_pair("Driver", drivers.freetds) + ";" + odbc_pair("Server", server);
    if (!port.empty()) t.odbc += ";" + odbc_pair("Port", port);
    if (const auto db = find_key(keys, "Initial Catalog")) t.odbc += ";" + odbc_pair("Database", *db);
    // The provider takes the short key names too (the logger database archive writes them).
    if (const auto uid = find_last_of_keys(keys, "User ID", "UID")) t.odbc += ";" + odbc_pair("UID", *uid);
    if (const auto pwd = find_last_of_keys(keys, "Password", "PWD")) t.odbc += ";" + odbc_pair("PWD", *pwd);
    t.odbc += ";TDS_Version=7.4;ClientCharset=UTF-8";
    return t;
}

ProviderTarget map_odbc(const std::vector<ConnectionKey>& keys) {
    ProviderTarget t;
    t.kind = ProviderKind::odbc;
    t.provider = "MSDASQL";
    for (const auto& k : keys) {
        if (equal_no_case(k.name, "Provider")) continue;
        if (!t.odbc.empty()) t.odbc += ';';
        t.odbc += odbc_pair(k.name, k.value);
    }
    if (!find_key(keys, "DSN") && !find_key(keys, "Driver") && !find_key(keys, "FILEDSN"))
        return refused("MSDASQL", kFail, "the ODBC connection names no DSN and no Driver");
    return t;
}

}  // namespace

std::vector<ConnectionKey> parse_connection_string(std::string_view text) {
    std::vector<ConnectionKey> keys;
    size_t i = 0;
    while (i < text.size()) {
        const size_t eq = text.find('=', i);
        const size_t semi = text.find(';', i);
        if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
            // A part without '=' names nothing.
            if (semi == std::string_view::npos) break;
            i = semi + 1;
            continue;
        }
        ConnectionKey key;
        key.name = std::string(trim(text.substr(i, eq - i)));
        size_t v = eq + 1;
        while (v < text.size() && (text[v] == ' ' || text[v] == '\t')) ++v;
        const size_t end = value_end(text, v, &key.value);
        i = end;
        // Whatever follows a closing quote up to the next ';' is dropped.
        const size_t next = text.find(';', i);
        i = next == std::string_view::npos ? text.size() : next + 1;
        if (!key.name.empty()) keys.push_back(std::move(key));
    }
    return keys;
}

std::optional<std::string> find_key(const std::vector<ConnectionKey>& keys, std::string_view name) {
    for (auto it = keys.rbegin(); it != keys.rend(); ++it)
        if (equal_no_case(it->name, name)) return it->value;
    return std::nullopt;
}

DriverPaths installed_driver_paths() {
    constexpr const char* dir = "/usr/lib/x86_64-linux-gnu/odbc/";
    return {env_or("QUORVANE_ODBC_SQLITE", (std::string(dir) + "libsqlite3odbc.so").c_str()),
            env_or("QUORVANE_ODBC_MARIADB", (std::string(dir) + "libmaodbc.so").c_str()),
            env_or("QUORVANE_ODBC_FREETDS", (std::string(dir) + "libtdsodbc.so").c_str())};
}

std::string odbc_pair(std::string_view key, std::string_view value) {
    std::string out(key);
    out += '=';
    const bool plain = value.find_first_of(";{}=") == std::string_view::npos && trim(value).size() == value.size();
    if (plain) return out.append(value);
    out += '{';
    for (const char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    out += '}';
    return out;
}

ProviderTarget map_provider(std::string_view connection_string, const DriverPaths& drivers,
                            const ProviderOptions& options) {
    const auto keys = parse_connection_string(connection_string);
    const std::string provider = std::string(trim(find_key(keys, "Provider").value_or("MSDASQL")));
    const auto is = [&](std::string_view name) {
        return equal_no_case(provider, name) ||
               (starts_no_case(provider, name) && provider.size() > name.size() && provider[name.size()] == '.');
    };
    if (is("SQLOLEDB")) return map_sql_server(keys, drivers);
    if (equal_no_case(provider, "SQLite.File")) return map_sqlite(keys, drivers, options);
    if (is("MSDASQL")) return map_odbc(keys);
    return refused(provider, kProviderNotAvailable, "provider not available on this platform");
}

}  // namespace ado
