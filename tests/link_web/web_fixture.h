#pragma once
// A test of the server link over the stand-in's fronts: a fresh connection table, the link's
// trace captured, the test CA configured, and both socket transports registered.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link_tls/tls_transport.h"
#include "link_web/web_transport.h"
#include "platform/registry_key.h"
#include "qvr/diag/trace.h"
#include "qvr/link/link.h"
#include "qvr/link/link_backend.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/link_testing.h"
#include "server/dispatcher.h"
#include "server/tls/tls_front.h"
#include "server/web/web_front.h"
#include "support/debug_capture.h"
#include "support/test_certificates.h"

namespace web_test {

inline void set_product_string(const std::string& name, const std::string& value) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey, platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string(name, value), 0);
}

inline std::string certificate(const std::string& name) { return qvr_test::certificates().path(name + ".crt"); }
inline std::string key(const std::string& name) { return qvr_test::certificates().path(name + ".key"); }

// The stand-in's TLS front for `dispatcher`, presenting the good test certificate; not started.
inline std::unique_ptr<sim_server::TlsFront> tls_front(sim_server::Dispatcher& dispatcher) {
    sim_server::TlsFrontOptions o;
    o.certificate_file = certificate("good");
    o.key_file = key("good");
    return std::make_unique<sim_server::TlsFront>(dispatcher, o);
}

// The stand-in's web front for `dispatcher`; over https it presents the good test certificate.
inline std::unique_ptr<sim_server::WebFront> web_front(sim_server::Dispatcher& dispatcher, bool https) {
    sim_server::WebFrontOptions o;
    if (https) {
        o.certificate_file = certificate("good");
        o.key_file = key("good");
    }
    return std::make_unique<sim_server::WebFront>(dispatcher, o);
}

class LinkOverSockets : public testing::Test {
  protected:
    void SetUp() override {
        qvr::link_testing::reset_table();
        link_tls::testing::reset_context();
        set_product_string("TlsCAFile", qvr_test::certificates().path("ca.crt"));
        set_product_string("WebTest_Debug", "ON");
        trace_Create("WebTest");
        ASSERT_EQ(tls_RegisterTransport(), 0);
        ASSERT_EQ(web_RegisterTransport(), 0);
        sim_server::add_core_handlers(dispatcher_);
    }
    void TearDown() override {
        qvr::link_testing::reset_table();
        link_tls::testing::reset_context();
        link_web::testing::disable_error_hook();
        link_SetBackend(kServerSocket, nullptr);
        link_SetBackend(kServerWeb, nullptr);
        trace_Destroy();
    }

    // Sends a text request; the reply lands in reply_.
    int send(const std::string& server, const std::string& request, uint32_t capacity = 256) {
        reply_.assign(capacity, '\0');
        reply_length_ = capacity;
        return link_SendRequest(server.c_str(), request.data(), static_cast<uint32_t>(request.size()), reply_.data(),
                                &reply_length_);
    }
    int send_text(const std::string& server, const std::string& text, uint32_t capacity = 256) {
        return send(server, text + '\0', capacity);
    }
    std::string reply() const { return reply_.substr(0, reply_length_); }
    std::vector<std::string> trace(const std::string& needle) { return capture_.lines(needle); }

    qvr_test::DebugCapture capture_;
    sim_server::Dispatcher dispatcher_;
    std::string reply_;
    uint32_t reply_length_ = 0;
};

}  // namespace web_test
