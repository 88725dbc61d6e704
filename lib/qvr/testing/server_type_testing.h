#pragma once
// Test hooks of the server type.
#include <string>
#include <vector>

namespace qvr {

// A built-in logger account: under `product` (any case), a user name ending in `user_suffix`
// (any case) with password `former` is stored with `current` and "2" appended to the name.
struct BuiltinLoggerAccount {
    std::string product;
    std::string user_suffix;
    std::string former;
    std::string current;
};

// Replaces the table of built-in accounts (empty in production); {} empties it again.
void set_builtin_logger_accounts_for_test(std::vector<BuiltinLoggerAccount> accounts);

}  // namespace qvr
