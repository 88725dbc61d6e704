// Line noise in both directions, lost and repeated answers, stray bytes: whatever the link
// accepts must be exactly a message the controller sent.
#include <gtest/gtest.h>

#include <mutex>
#include <set>

#include "link_test_support.h"
#include "platform/testing/serial_port_testing.h"
#include "tolva_sc/link_trace_text.h"

namespace {

using namespace link_test;

// Data that differs from one transaction to the next in content and length, with DLEs in it.
Bytes data_for(std::span<const uint8_t> req) {
    const unsigned tns = req[4] | (req[5] << 8);
    Bytes data{req[4], req[5], 0x10, static_cast<uint8_t>(tns * 7)};
    const size_t extra = tns % 48;
    for (size_t i = 0; i < extra; ++i) data.push_back(static_cast<uint8_t>(tns + i * 31));
    return data;
}

class Noise : public ModuleLine {};

TEST_F(Noise, NoCorruptedMessageIsEverTakenForGood) {
    constexpr int kTransactions = 10000;
    platform::set_serial_call_bound(5ms);
    sim_controller::ModuleOptions options;
    options.answer_timeout = 20ms;
    module_ = std::make_unique<sim_controller::InterfaceModule>(options);
    std::mutex mutex;
    std::set<Bytes> sent;
    module_->add_station(kStation, [&](std::span<const uint8_t> req) -> std::optional<Bytes> {
        Bytes reply = reply_to(req, data_for(req));
        std::lock_guard lock(mutex);
        sent.insert(reply);
        return reply;
    });
    sim_controller::RandomFaults faults;
    faults.seed = 0x5EED;
    faults.noise_in = 0.002;
    faults.noise_out = 0.002;
    faults.drop_response = 0.003;
    faults.nak = 0.003;
    faults.duplicate_reply = 0.003;
    faults.inject_enq = 0.003;
    faults.inject_garbage = 0.003;
    module_->set_random_faults(faults);
    ASSERT_EQ(module_->start(line_.take_module_side()), 0);
    open_link(test_timings(100));
    link_.set_trace(nullptr);

    int accepted = 0;
    int corrupted = 0;
    std::string first_bad;
    for (int i = 0; i < kTransactions; ++i) {
        const Bytes req = request(kStation, static_cast<uint16_t>(i + 1));
        Bytes reply;
        int code = 0;
        if (transact(req, reply, code) != 1) continue;
        ++accepted;
        std::lock_guard lock(mutex);
        if (sent.count(reply) == 0) {
            ++corrupted;
            if (first_bad.empty()) first_bad = tolva::describe_message(reply);
        }
    }
    EXPECT_EQ(corrupted, 0) << "first: " << first_bad;
    const tolva::LinkCounters& c = link_.counters();
    // The noise reached the link and was caught there; most transactions still went through.
    EXPECT_GT(c.bcc_errors + c.bad_dle_pairs, 0u);
    EXPECT_GT(accepted, kTransactions / 2);
    RecordProperty("accepted", accepted);
    RecordProperty("bcc_errors", static_cast<int>(c.bcc_errors));
}

}  // namespace
