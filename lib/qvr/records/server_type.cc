#include "qvr/records/server_type.h"

#include <string.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "qvr/link/link.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/server_type_testing.h"
#include "qvr/util/url.h"
#include "tslib/ascii_text.h"
#include "tslib/crypt_server_password.h"
#include "tslib/structs_internal.h"

using tslib::equal_ignoring_case;

namespace {

constexpr std::size_t kPasswordMax = 4096;
constexpr std::size_t kEscapedMax = 3 * kPasswordMax + 1;

// Wipes a buffer that held a password when it goes out of scope.
template <std::size_t N>
struct Wiped {
    std::array<char, N> bytes{};
    ~Wiped() { explicit_bzero(bytes.data(), bytes.size()); }
};

// The parts of a web-service address with credentials.
struct Address {
    std::array<char, 32> scheme{};
    std::array<char, 256> host{};
    std::array<char, 129> user{};  // room for the "2" of a built-in account
    Wiped<kPasswordMax + 1> password;
    std::array<char, 2048> path{};
    std::array<char, 2084> extra{};
    std::uint32_t user_length = 0;
    std::uint32_t password_length = 0;
    std::uint32_t path_length = 0;
    std::uint32_t extra_length = 0;
    std::uint16_t port = 0;
};

// True when text is a web-service address with a user name and a password.
bool split_credentials(const char* text, std::size_t password_capacity, Address& a) {
    if (link_GetServerKind(text) != kServerWeb) return false;
    UrlComponents parts;
    parts.scheme = a.scheme.data();
    parts.scheme_length = a.scheme.size();
    parts.host = a.host.data();
    parts.host_length = a.host.size();
    parts.user = a.user.data();
    parts.user_length = a.user.size() - 1;
    parts.password = a.password.bytes.data();
    parts.password_length = static_cast<std::uint32_t>(password_capacity);
    parts.path = a.path.data();
    parts.path_length = a.path.size();
    parts.extra = a.extra.data();
    parts.extra_length = a.extra.size();
    if (url_Split(text, 0, 0, &parts) != 1) return false;
    a.user_length = parts.user_length;
    a.password_length = parts.password_length;
    a.path_length = parts.path_length;
    a.extra_length = parts.extra_length;
    a.port = parts.port;
    // A host holding ':' would read back with another host and port: such a text is kept.
    const std::string_view host(a.host.data(), parts.host_length);
    if (host.empty() || host.find(':') != std::string_view::npos) return false;
    return a.user_length != 0 && a.password_length != 0;
}

// "http(s)://user:password@host[:port]/" and any path and query the address had.
std::string compose(const Address& a, std::string_view password) {
    const bool secure = equal_ignoring_case(std::string_view(a.scheme.data()), "https");
    std::string out = secure ? "https://" : "http://";
    out.append(a.user.data(), a.user_length);
    out += ':';
    out += password;
    out += '@';
    out += a.host.data();
    if (a.port != (secure ? 443 : 80)) {
        out += ':';
        out += std::to_string(a.port);
    }
    const std::string_view path(a.path.data(), a.path_length);
    if (path.empty() || path.front() != '/') out += '/';
    out += path;
    out.append(a.extra.data(), a.extra_length);
    return out;
}

struct AccountTable {
    std::mutex mutex;
    std::vector<qvr::BuiltinLoggerAccount> accounts;
};

AccountTable& account_table() {
    static AccountTable table;
    return table;
}

bool ends_with_ignoring_case(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && equal_ignoring_case(text.substr(text.size() - suffix.size()), suffix);
}

// A built-in logger account's former password is replaced by its current one, and the
// user name gains a "2". Returns the password to store.
std::string_view apply_builtin_account(Address& a, std::string_view password, std::string& replaced) {
    AccountTable& table = account_table();
    std::lock_guard lock(table.mutex);
    if (table.accounts.empty()) return password;
    const std::string_view product = reg_GetProductName();
    const std::string_view user(a.user.data(), a.user_length);
    for (const auto& account : table.accounts) {
        if (!equal_ignoring_case(product, account.product)) continue;
        if (!ends_with_ignoring_case(user, account.user_suffix) || password != account.former) continue;
        if (a.user_length + 1 >= a.user.size()) return password;
        a.user[a.user_length++] = '2';
        a.user[a.user_length] = '\0';
        replaced = account.current;
        return replaced;
    }
    return password;
}

int store(const StructsType* type, std::string_view text, void* data, char* ebuf, std::size_t emax) {
    if (text.size() >= type->size) {
        structs_write_error(ebuf, emax, "string is too long for bounded length buffer");
        errno = EINVAL;
        return -1;
    }
    auto* out = static_cast<char*>(data);
    std::memcpy(out, text.data(), text.size());
    std::memset(out + text.size(), 0, type->size - text.size());
    return 0;
}

}  // namespace

namespace qvr {

void set_builtin_logger_accounts_for_test(std::vector<BuiltinLoggerAccount> accounts) {
    AccountTable& table = account_table();
    std::lock_guard lock(table.mutex);
    table.accounts = std::move(accounts);
}

}  // namespace qvr

char* structs_server_ascify(const StructsType* type, const char* mtype, const void* data) {
    const auto* chars = static_cast<const char*>(data);
    const std::string_view stored(chars, strnlen(chars, type->size));
    const std::string text(stored);
    Address a;
    if (!split_credentials(text.c_str(), kPasswordMax, a)) return tslib::detail::dup_text(mtype, stored);
    // A cipher text that could not be read back keeps the stored (escaped) form, which reads
    // back as it is.
    const std::string_view password(a.password.bytes.data(), a.password_length);
    if (password.size() > kCryptServerMaxDigits / 2) return tslib::detail::dup_text(mtype, stored);
    std::array<char, kCryptServerMaxDigits + 4> cipher{};
    const std::size_t n = crypt_EncipherServerPassword(password, cipher);
    if (n == 0) return tslib::detail::dup_text(mtype, stored);
    const std::string shown = compose(a, std::string_view(cipher.data(), n));
    if (shown.size() >= kUrlLengthLimit) return tslib::detail::dup_text(mtype, stored);
    return tslib::detail::dup_text(mtype, shown);
}

int structs_server_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                          std::size_t emax) {
    if (text == nullptr) text = "";
    const std::string_view given(text);
    if (given.size() >= kUrlLengthLimit) return store(type, given, data, ebuf, emax);
    Address a;
    if (!split_credentials(text, kPasswordMax, a)) return store(type, given, data, ebuf, emax);

    Wiped<kPasswordMax + 1> plain;
    std::string_view password(a.password.bytes.data(), a.password_length);
    const int deciphered = crypt_DecipherServerPassword(password, plain.bytes);
    if (deciphered < 0) {
        structs_write_error(ebuf, emax, "cannot decode sever password");
        errno = EINVAL;
        return -1;
    }
    if (deciphered == 1) password = std::string_view(plain.bytes.data());

    std::string replaced;
    password = apply_builtin_account(a, password, replaced);

    Wiped<kEscapedMax> escaped;
    const ssize_t n = crypt_EscapeServerPassword(password, escaped.bytes);
    explicit_bzero(replaced.data(), replaced.size());
    if (n < 0) {
        structs_write_error(ebuf, emax, "string is too long for bounded length buffer");
        errno = EINVAL;
        return -1;
    }
    std::string result = compose(a, std::string_view(escaped.bytes.data(), static_cast<std::size_t>(n)));
    const int rc = store(type, result, data, ebuf, emax);
    explicit_bzero(result.data(), result.size());
    return rc;
}
