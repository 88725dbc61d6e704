#pragma once
// The values scripts/test-mariadb wrote for the server it started (host, port, user, password,
// socket), read from the state file QUORVANE_TEST_MARIADB names. Shared by tests and benchmarks.
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>

namespace qvr_test {

// Nothing when no server was started for this run (no variable, no file, nothing in it).
inline std::optional<std::map<std::string, std::string>> mariadb_state() {
    const char* state = std::getenv("QUORVANE_TEST_MARIADB");
    if (!state || !*state) return std::nullopt;
    std::ifstream in(state);
    if (!in) return std::nullopt;
    std::map<std::string, std::string> values;
    for (std::string line; std::getline(in, line);)
        if (const auto eq = line.find('='); eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    if (values.empty()) return std::nullopt;
    return values;
}

}  // namespace qvr_test
