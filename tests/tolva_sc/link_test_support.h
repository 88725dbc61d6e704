#pragma once
// Pieces the link tests share: messages as the command layer builds them, a station that
// answers every request, a line to the interface-module stand-in, and a line whose other end
// the test plays byte by byte.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "controller/frame_codec.h"
#include "controller/interface_module.h"
#include "controller/pseudo_terminal.h"
#include "platform/last_error.h"
#include "platform/serial_port.h"
#include "platform/testing/serial_port_testing.h"
#include "tolva_sc/df1_link.h"

namespace link_test {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// A typed read request as the command layer sends it (SRC and STS 0).
inline Bytes request(uint8_t dst, uint16_t tns, Bytes fields = {0xA2, 0x52, 0x07, 0x89, 0x00, 0x00}) {
    Bytes body{dst, 0x00, 0x0F, 0x00, static_cast<uint8_t>(tns & 0xFF), static_cast<uint8_t>(tns >> 8)};
    body.insert(body.end(), fields.begin(), fields.end());
    return body;
}

// The reply a station sends to `req`: the header turned round and `data`.
inline Bytes reply_to(std::span<const uint8_t> req, Bytes data) {
    Bytes body{req[1], req[0], static_cast<uint8_t>(req[2] | 0x40), 0x00, req[4], req[5]};
    body.insert(body.end(), data.begin(), data.end());
    return body;
}

inline Bytes standard_data() {
    return {0x34, 0x12, 0x10, 0x00, 0xFF, 0x7F};
}

// Settings whose waits suit a test: a short call bound makes each wait for an answer last
// one bound, the reply budget stays generous.
inline tolva::LinkTimings test_timings(int64_t reply_ms = 2000) {
    tolva::LinkTimings t;
    t.max_retries = 2;
    t.max_enquires = 3;
    t.ack_timeout_ms = 10;
    t.control_write_ms = 10;
    t.reply_timeout_ms = reply_ms;
    t.message_write_ms = reply_ms;
    return t;
}

inline tolva::CommSettings comm_for(const char* port, uint32_t baud = 19200) {
    tolva::CommSettings comm{};
    comm.BaudRate = baud;
    std::memcpy(comm.CommPort, port, std::min(std::strlen(port), sizeof comm.CommPort));
    return comm;
}

// The link on one side of a pseudo-terminal, the module stand-in on the other.
class ModuleLine : public testing::Test {
  protected:
    static constexpr uint8_t kStation = 1;

    // Only a wait that is to end with a time-out gets a short one; every other wait ends by
    // what comes on the line, never by the clock of a loaded machine.
    static sim_controller::ModuleOptions patient_module() {
        sim_controller::ModuleOptions o;
        o.answer_timeout = 60s;
        return o;
    }
    static tolva::LinkTimings patient_timings(int64_t reply_ms = 60000) {
        tolva::LinkTimings t = test_timings(reply_ms);
        t.ack_timeout_ms = 60000;
        t.control_write_ms = 60000;
        t.message_write_ms = reply_ms;
        return t;
    }
    // For a case where an ACK or NAK is lost on purpose: its wait ends, and the answer to
    // the enquiry that follows still comes within one.
    static tolva::LinkTimings lost_answer_timings() {
        tolva::LinkTimings t = patient_timings();
        t.ack_timeout_ms = 1000;
        return t;
    }

    void SetUp() override {
        platform::set_serial_call_bound(20ms);
        ASSERT_EQ(line_.open(), 0);
        ASSERT_EQ(sim_controller::map_port_name("COM5", line_.device_path()), 0);
    }

    // Starts the module with one station answering every request with `standard_data()`.
    void start_module(sim_controller::ModuleOptions options = patient_module()) {
        module_ = std::make_unique<sim_controller::InterfaceModule>(options);
        module_->add_station(kStation, [](std::span<const uint8_t> req) -> std::optional<Bytes> {
            return reply_to(req, standard_data());
        });
        ASSERT_EQ(module_->start(line_.take_module_side()), 0);
    }

    void open_link(tolva::LinkTimings timings = patient_timings()) {
        tolva::CommSettings comm = comm_for("COM5");
        ASSERT_EQ(link_.setup(comm, 5), 0) << errno;
        link_.set_timings(timings);
        link_.set_trace([this](std::string_view line) { trace_ += std::string(line) + "\n"; });
    }

    // One transaction; the reply body, or the failure code in `code`.
    int transact(const Bytes& req, Bytes& reply, int& code) {
        code = 0;
        reply.assign(256, 0);
        size_t length = 0;
        if (link_.send_message(req) != 1 || link_.receive_message(reply, length) != 1) {
            code = platform::last_error();
            reply.clear();
            return 0;
        }
        reply.resize(length);
        return 1;
    }

    size_t count(sim_controller::Direction d, sim_controller::EntryKind k) const {
        return sim_controller::count_entries(module_->log(), d, k);
    }

    // The module's log as text, for failure messages.
    std::string module_log() const {
        std::string text;
        for (const auto& e : module_->log()) text += e.text() + "\n";
        return text;
    }

    sim_controller::PseudoTerminal line_;
    std::unique_ptr<sim_controller::InterfaceModule> module_;
    tolva::Df1Link link_;
    std::string trace_;
};

constexpr uint8_t D = 0x10;
inline const Bytes kAck{D, 0x06};
inline const Bytes kNak{D, 0x15};
inline const Bytes kEnq{D, 0x05};

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes repeat(const Bytes& b, int n) {
    Bytes out;
    for (int i = 0; i < n; ++i) out.insert(out.end(), b.begin(), b.end());
    return out;
}

inline Bytes wire(const Bytes& body) {
    return sim_controller::frame_bytes(body);
}

inline Bytes with_bad_check(const Bytes& body) {
    Bytes w = wire(body);
    w.back() ^= 0x01;
    return w;
}

// The link on one side of a pseudo-terminal; the test is the peer on the other: it puts the
// peer's bytes on the line beforehand and reads back what the link wrote.
class Wire : public testing::Test {
  protected:
    void SetUp() override {
        platform::set_serial_call_bound(20ms);
        ASSERT_EQ(line_.open(), 0);
        ASSERT_EQ(sim_controller::map_port_name("COM6", line_.device_path()), 0);
        peer_ = line_.take_module_side();
        tolva::CommSettings comm = comm_for("COM6");
        ASSERT_EQ(link_.setup(comm, 6), 0) << errno;
        set_reply_timeout(10000);
    }
    void TearDown() override {
        link_.close();
        if (peer_ >= 0) ::close(peer_);
    }
    // Only a wait that is to end with a time-out gets a short one; any other ends by what is
    // on the line, and a send by its counts of transmissions and enquiries, never by the
    // clock of a loaded machine.
    void set_reply_timeout(int64_t ms) {
        tolva::LinkTimings t = test_timings(ms);
        t.message_write_ms = 600000;
        link_.set_timings(t);
    }
    void peer_sends(const Bytes& bytes) {
        if (bytes.empty()) return;
        ASSERT_EQ(::write(peer_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything the link wrote so far.
    Bytes link_wrote() {
        Bytes out;
        uint8_t buffer[512];
        pollfd p{peer_, POLLIN, 0};
        while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0) {
            const ssize_t n = ::read(peer_, buffer, sizeof buffer);
            if (n <= 0) break;
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }
    int receive(size_t capacity, Bytes& body) {
        body.assign(capacity, 0xEE);
        size_t length = 99;
        const int rc = link_.receive_message(body, length);
        body.resize(rc == 1 ? length : 0);
        if (rc != 1) {
            EXPECT_EQ(length, 0u);
        }
        return rc;
    }

    sim_controller::PseudoTerminal line_;
    int peer_ = -1;
    tolva::Df1Link link_;
};

}  // namespace link_test
