#pragma once
// Test hooks of the server type: the built-in logger accounts, which production leaves empty.
#include <string>
#include <vector>

namespace qvr::server_type_testing {

struct BuiltInAccount {
    std::string product;      // compared without case
    std::string user_suffix;  // the user name ends with it, without case
    std::string former;       // the password an older installation stored
    std::string current;      // the password it becomes; "2" is added to the user name
};

void set_built_in_accounts(std::vector<BuiltInAccount> accounts);

}  // namespace qvr::server_type_testing
