// Line noise between the scanner and the interface module: frames are damaged in both
// directions, and still no wrong value is ever published or written.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <set>
#include <thread>

#include "qvr/host/chan.h"
#include "scanner_rig.h"

namespace {

using e2e::kStationOne;
using e2e::kStationTwo;
using e2e::ScannerRig;
using namespace std::chrono_literals;

TEST(LineNoise, OneByteInAThousandDamagedNeverPublishesAWrongValue) {
    ScannerRig rig;
    rig.network.set_value(kStationOne, "N7:0", 1234);
    rig.network.set_value(kStationOne, "F8:1", 56.75);
    rig.network.set_value(kStationTwo, "N7:0", -4321);
    rig.network.set_value(kStationOne, "B3:0/0", 1);
    ASSERT_EQ(rig.add_device(), 0);
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(rig.scan(*scanner));

    const float expected[] = {1234.0f, 56.75f, -4321.0f};
    std::atomic<bool> sampling{true};
    std::atomic<int> samples{0};
    std::mutex wrong_mutex;
    std::vector<std::string> wrong;
    std::thread sampler([&] {
        while (sampling) {
            for (int c = 1; c <= 3; ++c) {
                const uint32_t w = rig.host.status_word("A1", c);
                const float v = rig.host.value("A1", c);
                if ((w & 0x20u) == 0 && v != expected[c - 1]) {
                    std::lock_guard lock(wrong_mutex);
                    wrong.push_back("AI " + std::to_string(c) + " = " + std::to_string(v));
                }
            }
            const uint32_t run = rig.host.status_word("A2", 1);
            const uint32_t fault = rig.host.status_word("A2", 2);
            if (((run & 0x20u) == 0 && (run & 1u) != 1) || ((fault & 0x20u) == 0 && (fault & 1u) != 0)) {
                std::lock_guard lock(wrong_mutex);
                wrong.push_back("DI state");
            }
            ++samples;
            std::this_thread::sleep_for(200us);
        }
    });

    sim_controller::RandomFaults faults;
    faults.seed = 12;
    faults.noise_in = 0.001;
    faults.noise_out = 0.001;
    rig.module->set_random_faults(faults);
    const std::set<int16_t> setpoints{100, 200, 300, 400, 500};
    for (int i = 0; i < 200; ++i) {
        if (i % 40 == 0) {
            const float v = static_cast<float>(*std::next(setpoints.begin(), i / 40));
            ASSERT_EQ(chan_SetAnalogValues("A3", 1, 1, &v), 0);
        }
        ASSERT_TRUE(rig.scan(*scanner)) << "scan " << i;
    }
    rig.module->set_random_faults({});
    ASSERT_TRUE(rig.scan(*scanner));
    ASSERT_TRUE(rig.scan(*scanner));
    sampling = false;
    sampler.join();

    EXPECT_GT(samples.load(), 1000);
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " wrong, first: " << wrong.front();
    // Every write that reached the controller carried one of the values asked for (or the
    // module's first value, written when the device opened).
    for (const auto& c : rig.network.commands()) {
        if (!c.is_write() || c.file != 7 || c.element != 10 || c.data.size() < 2) continue;
        const auto v = static_cast<int16_t>(c.data[0] | (c.data[1] << 8));
        EXPECT_TRUE(v == 0 || setpoints.contains(v)) << c.text();
    }
    EXPECT_EQ(rig.network.value(kStationOne, "N7:10"), 500.0);
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(rig.host.value("A1", c), expected[c - 1]);
    // The damage was there, and the statistics channels counted it (RT, RE, RC, TE).
    float errors = 0;
    for (int c : {5, 6, 7, 10}) errors += rig.host.value("A6", c);
    EXPECT_GT(errors, 0.0f);
}

}  // namespace
