#include "qvr/records/server_type.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/link/link.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/server_type_testing.h"
#include "qvr/util/url.h"
#include "tslib/crypt_server_password.h"
#include "tslib/typed_mem.h"

namespace {

using qvr::server_type_testing::BuiltInAccount;

// Component buffers: the text form's reader takes a long password, since an enciphered one
// is three times its stored length.
template <std::size_t PasswordCapacity>
struct Split {
    char scheme[32];
    char host[256];
    char user[128];
    char password[PasswordCapacity];
    char path[2048];
    char extra[2084];
    UrlComponents parts;

    bool of(std::string_view text) {
        parts = UrlComponents{};
        parts.scheme = scheme;
        parts.scheme_length = sizeof scheme;
        parts.host = host;
        parts.host_length = sizeof host;
        parts.user = user;
        parts.user_length = sizeof user;
        parts.password = password;
        parts.password_length = sizeof password;
        parts.path = path;
        parts.path_length = sizeof path;
        parts.extra = extra;
        parts.extra_length = sizeof extra;
        return url_Split(text.data(), text.size(), 0, &parts) == 1 && parts.user_length > 0 &&
               parts.password_length > 0;
    }
    std::string_view user_name() const { return {user, parts.user_length}; }
    std::string_view password_text() const { return {password, parts.password_length}; }
    bool secure() const { return platform::equal_ignoring_case({scheme, parts.scheme_length}, "https"); }

    // "scheme://user:<password>@host[:port]" and the path and query, or "/" without them.
    std::string address(std::string_view user_text, std::string_view password_form) const {
        std::string out = secure() ? "https://" : "http://";
        out.append(user_text).append(":").append(password_form).append("@");
        const std::string_view name(host, parts.host_length);
        if (name.find(':') != std::string_view::npos)  // an IPv6 address keeps its brackets
            out.append("[").append(name).append("]");
        else
            out.append(name);
        if (parts.port != (secure() ? 443 : 80)) out.append(":").append(std::to_string(parts.port));
        const std::string_view route(path, parts.path_length);
        const std::string_view query(extra, parts.extra_length);
        if (route.empty() && query.empty()) return out.append("/");
        if (route.empty() || route.front() != '/') out.append("/");
        return out.append(route).append(query);
    }
};

struct Accounts {
    std::mutex lock;
    std::vector<BuiltInAccount> table;
};

Accounts& accounts() {
    static Accounts a;
    return a;
}

// An older installation's built-in logger account gets its current password.
void apply_built_in_account(std::string& user, std::string& password) {
    Accounts& a = accounts();
    std::lock_guard hold(a.lock);
    if (a.table.empty()) return;
    const char* product = reg_GetProductName();
    const std::string_view product_name(product != nullptr ? product : "");
    for (const BuiltInAccount& account : a.table) {
        if (!platform::equal_ignoring_case(product_name, account.product)) continue;
        if (!platform::ends_with_ignoring_case(user, account.user_suffix)) continue;
        if (password != account.former) continue;
        password = account.current;
        user.append("2");
        return;
    }
}

int store(const StructsType* type, std::string_view text, void* data, char* ebuf, std::size_t emax) {
    if (text.size() >= type->size) {
        structs_write_error(ebuf, emax, "string is too long for bounded length buffer");
        return platform::fail(EINVAL);
    }
    auto* out = static_cast<char*>(data);
    std::memcpy(out, text.data(), text.size());
    std::memset(out + text.size(), 0, type->size - text.size());
    return 0;
}

char* dup(const char* mtype, std::string_view text) {
    auto* out = static_cast<char*>(typed_mem_alloc(mtype, text.size() + 1));
    if (out == nullptr) return nullptr;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return out;
}

bool is_web_address(std::string_view text) {
    const std::string copy(text);
    return link_GetServerKind(copy.c_str()) == kServerWeb;
}

}  // namespace

void qvr::server_type_testing::set_built_in_accounts(std::vector<BuiltInAccount> table) {
    Accounts& a = accounts();
    std::lock_guard hold(a.lock);
    a.table = std::move(table);
}

char* structs_server_ascify(const StructsType* type, const char* mtype, const void* data) {
    const auto* chars = static_cast<const char*>(data);
    const std::string_view text(chars, strnlen(chars, type->size));
    if (!is_web_address(text)) return dup(mtype, text);
    Split<128> split;
    if (!split.of(text)) return dup(mtype, text);
    std::array<char, 3 + 2 * 128 + 1> cipher{};
    const std::size_t n = crypt_EncipherServerPassword(split.password_text(), cipher);
    explicit_bzero(split.password, sizeof split.password);
    if (n == 0) return dup(mtype, text);
    return dup(mtype, split.address(split.user_name(), std::string_view(cipher.data(), n)));
}

int structs_server_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                          std::size_t emax) {
    const std::string_view given(text != nullptr ? text : "");
    if (!is_web_address(given)) return store(type, given, data, ebuf, emax);
    Split<4096> split;
    if (!split.of(given)) return store(type, given, data, ebuf, emax);
    std::array<char, kCryptServerMaxDigits / 2 + 1> plain{};
    std::string password;
    const int deciphered = crypt_DecipherServerPassword(split.password_text(), plain);
    if (deciphered < 0) {
        structs_write_error(ebuf, emax, "cannot decode sever password");
        return platform::fail(EINVAL);
    }
    password = deciphered == 1 ? std::string(plain.data()) : std::string(split.password_text());
    explicit_bzero(plain.data(), plain.size());
    explicit_bzero(split.password, sizeof split.password);
    std::string user(split.user_name());
    apply_built_in_account(user, password);
    std::vector<char> escaped(3 * password.size() + 1);
    const ssize_t length = crypt_EscapeServerPassword(password, escaped);
    explicit_bzero(password.data(), password.size());
    if (length < 0) {
        structs_write_error(ebuf, emax, "string is too long for bounded length buffer");
        return platform::fail(EINVAL);
    }
    const std::string stored = split.address(user, std::string_view(escaped.data(), static_cast<size_t>(length)));
    return store(type, stored, data, ebuf, emax);
}
