#pragma once
// A throw-away MariaDB server of one test's own (the shared one serves other tests), which the
// test may kill or stop and start again on the same data; stopped and removed at the end.
// Its tests define TEST_MARIADB_SCRIPT (scripts/test-mariadb).
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "platform/ado/connection.h"
#include "platform/ado/connection_string.h"
#include "platform/ado/text_codec.h"

namespace log_stores_test {

class OwnServer {
  public:
    OwnServer() {
        static std::atomic<int> serial{0};
        state_ = "/tmp/qvr-own-" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".state";
    }
    ~OwnServer() { (void)std::system((script_ + " stop " + state_ + " >/dev/null 2>&1; rm -f " + log()).c_str()); }
    OwnServer(const OwnServer&) = delete;
    OwnServer& operator=(const OwnServer&) = delete;

    // A fresh server, or the killed one again on its data folder. Tried twice (machines busy
    // with other tests' servers); what the script said is shown when both fail.
    bool start() { return script("start"); }
    bool restart() { return script("restart"); }
    // SIGKILL (or SIGTERM: the server shuts down as asked), then waits (bounded) until the
    // server is gone.
    bool kill(int signal = SIGKILL) const {
        const auto pid = static_cast<pid_t>(std::stol(values().at("pid")));
        if (::kill(pid, signal) != 0) return false;
        for (int i = 0; i < 600 && ::kill(pid, 0) == 0; ++i) ::usleep(100000);
        return ::kill(pid, 0) != 0;
    }
    std::map<std::string, std::string> values() const {
        std::map<std::string, std::string> v;
        std::ifstream in(state_);
        for (std::string line; std::getline(in, line);)
            if (const auto eq = line.find('='); eq != std::string::npos) v[line.substr(0, eq)] = line.substr(eq + 1);
        return v;
    }
    // The ODBC connection string of the test user, to `db` or to no database.
    std::string odbc(const std::string& db = {}) const {
        const auto v = values();
        std::string cs = "Provider=MSDASQL;Driver=" + ado::installed_driver_paths().mariadb +
                         ";Server=127.0.0.1;Port=" + v.at("port") + ";UID=" + v.at("user") + ";PWD=" + v.at("password");
        return db.empty() ? cs : cs + ";Database=" + db;
    }
    // Statements as root through the server's socket (the test user may not set globals).
    bool as_root(const std::string& sql) const {
        return std::system(("mariadb --no-defaults --socket=" + values().at("socket") + " -uroot -e \"" + sql +
                            "\" >/dev/null 2>&1")
                               .c_str()) == 0;
    }
    bool make_odbc_database(const std::string& db) const {
        try {
            ado::Connection c;
            c.open(ado::utf16_from_utf8(odbc()));
            c.execute_utf8("CREATE DATABASE " + db + " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin");
            return true;
        } catch (...) {
            return false;
        }
    }

  private:
    std::string log() const { return state_ + ".log"; }
    bool script(const char* command) {
        for (int attempt = 0; attempt < 2; ++attempt)
            if (std::system((script_ + " " + command + " " + state_ + " >" + log() + " 2>&1").c_str()) == 0)
                return true;
        std::ifstream in(log());
        std::cerr << in.rdbuf();
        return false;
    }

    std::string script_ = TEST_MARIADB_SCRIPT;
    std::string state_;
};

}  // namespace log_stores_test
