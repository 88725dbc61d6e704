#pragma once
// A test of the server link: a fresh connection table, the link's trace switched on and
// captured, and a stand-in server answering on this machine's pipe.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/registry_key.h"
#include "qvr/diag/trace.h"
#include "qvr/link/link.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/link_testing.h"
#include "server/dispatcher.h"
#include "server/pipe_front.h"
#include "support/debug_capture.h"

namespace link_test {

inline void switch_trace_on(const char* name) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey, platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string(std::string(name) + "_Debug", "ON"), 0);
    trace_Create(name);
}

// One stand-in server: its dispatcher and pipe front end for `machine`.
struct StandIn {
    explicit StandIn(const std::string& machine = ".") : front(dispatcher, options_for(machine)) {
        sim_server::add_core_handlers(dispatcher);
    }
    static sim_server::PipeFrontOptions options_for(const std::string& machine) {
        sim_server::PipeFrontOptions o;
        o.machine = machine;
        o.lifetime_ms = 120000;
        return o;
    }
    sim_server::Dispatcher dispatcher;
    sim_server::PipeFront front;
};

class LinkTest : public testing::Test {
  protected:
    void SetUp() override {
        qvr::link_testing::reset_table();
        switch_trace_on("LinkTest");
        server_ = std::make_unique<StandIn>();
        ASSERT_EQ(server_->front.start(), 0);
    }
    void TearDown() override {
        qvr::link_testing::reset_table();
        server_.reset();
        trace_Destroy();
    }

    StandIn& server() { return *server_; }

    // Sends a text request to `server_name`; the reply lands in reply_.
    int send(const char* server_name, const char* request, uint32_t capacity = 256) {
        reply_.assign(capacity, '\0');
        reply_length_ = capacity;
        return link_SendText(server_name, request, reply_.data(), &reply_length_);
    }
    std::string reply() const { return reply_.substr(0, reply_length_); }
    // Trace lines that hold `needle`.
    std::vector<std::string> trace(const std::string& needle) { return capture_.lines(needle); }

    qvr_test::DebugCapture capture_;
    std::unique_ptr<StandIn> server_;
    std::string reply_;
    uint32_t reply_length_ = 0;
};

}  // namespace link_test
