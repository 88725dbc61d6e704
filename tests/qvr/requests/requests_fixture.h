#pragma once
// A test of the server requests: a fresh connection table, the link's trace captured, and a
// stand-in server on this machine's pipe answering from its tables and its product tree,
// which is also this machine's product tree (QVR_ variables point into it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/link_fixture.h"
#include "qvr/link/link.h"
#include "qvr/testing/link_testing.h"
#include "server/request_handlers.h"
#include "support/temp_dir.h"

namespace requests_test {

struct RequestServer {
    explicit RequestServer(const std::string& root, const std::string& machine = ".")
        : tree(root), stand_in(machine) {
        sim_server::add_request_handlers(stand_in.dispatcher, tables, tree);
    }
    sim_server::ProductTree tree;
    sim_server::RequestTables tables;
    link_test::StandIn stand_in;
    sim_server::Dispatcher& dispatcher() { return stand_in.dispatcher; }
    int start() { return stand_in.front.start(); }
    // The recorded requests, exactly as they arrived.
    std::vector<std::string> sent() const {
        std::vector<std::string> out;
        for (const auto& r : stand_in.dispatcher.requests()) out.push_back(r.bytes);
        return out;
    }
    // The codes of the recorded requests, in order.
    std::vector<std::string> codes() const {
        std::vector<std::string> out;
        for (const auto& r : stand_in.dispatcher.requests()) out.push_back(r.bytes.substr(0, 2));
        return out;
    }
};

class RequestTest : public testing::Test {
  protected:
    void SetUp() override {
        qvr::link_testing::reset_table();
        link_test::switch_trace_on("RequestTest");
        server_ = std::make_unique<RequestServer>((temp_.path() / "product").string());
        ASSERT_EQ(server_->start(), 0);
        for (const std::string& line : server_->tree.environment()) {
            const auto eq = line.find('=');
            setenv(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str(), 1);
        }
    }
    void TearDown() override {
        qvr::link_testing::reset_table();
        server_.reset();
        trace_Destroy();
    }

    RequestServer& server() { return *server_; }
    std::string config_folder() const { return server_->tree.folder("QVR_CURRENT_CONFIG"); }
    // Writes a file of the current configuration folder.
    void write_config(const std::string& relative, const std::string& bytes) {
        qvr_test::write_file(std::filesystem::path(config_folder()) / relative, bytes);
    }
    // Makes every request with `code` fail once with "-1,5".
    void fail_once(const char* code) { server().dispatcher().script_reply(code, std::string("-1,5", 5)); }
    std::vector<std::string> trace(const std::string& needle) { return capture_.lines(needle); }

    qvr_test::TempDir temp_;
    qvr_test::DebugCapture capture_;
    std::unique_ptr<RequestServer> server_;
};

inline std::string bytes(const char* text) {
    return std::string(text, std::strlen(text) + 1);
}

}  // namespace requests_test
