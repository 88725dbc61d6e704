// Reloading a kind's channel records only when its channel table file changed, against the
// host stand-in's modules and real files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "host/runtime_host.h"
#include "pccc_test_support.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/host/device_modules.h"
#include "qvr/ipc/shm.h"
#include "tolva_sc/channel_reload.h"

namespace {

using pccc_test::channel;
using pccc_test::hw;
namespace fs = std::filesystem;

struct Reload : testing::Test {
    void SetUp() override {
        sim_host::DeviceSpec spec;
        spec.channels[0] = {channel(0, hw(1, 7, 7, 0), "OLD1"), channel(0, hw(1, 7, 7, 1), "OLD2")};
        ASSERT_GE(host.add_device(spec), 0);
        folder = host.config_tree().current_config() / spec.config_name;
        ASSERT_EQ(::chdir(folder.c_str()), 0);
        data = shm_OpenDeviceData("A1");
        conf = shm_OpenDeviceConf("A1");
        ASSERT_NE(data, nullptr);
        ASSERT_NE(conf, nullptr);
        load = [this](int kind, std::span<qvr::ChannelRecord> out) {
            ++loads;
            auto records =
                sim_host::read_channel_file(fs::current_path(), static_cast<qvr::ChannelKind>(kind), nullptr);
            if (!records) return -1;
            for (size_t i = 0; i < out.size() && i < records->size(); ++i) out[i] = (*records)[i];
            return 0;
        };
    }
    void set_file_time(int64_t seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 250'000'000}};
        ASSERT_EQ(::utimensat(AT_FDCWD, "ai", times, 0), 0);
    }
    TimeStamp module_time() {
        TimeStamp t{};
        std::memcpy(&t, qvr::section_bytes(data).data() + qvr::kConfigTimeOffset, sizeof t);
        return t;
    }

    sim_host::RuntimeHost host;
    fs::path folder;
    void* data = nullptr;
    void* conf = nullptr;
    int loads = 0;
    tolva::ChannelTableLoader load;
};

TEST_F(Reload, ATableIsReloadedOnlyWhenItsFileTimeMoved) {
    set_file_time(1'700'000'000);
    EXPECT_EQ(tolva::reload_channels_if_changed(0, data, conf, load), 2 * 216);
    EXPECT_EQ(module_time().milliseconds, 250);
    EXPECT_EQ(tolva::reload_channels_if_changed(0, data, conf, load), 0);
    EXPECT_EQ(loads, 1);

    const std::vector<qvr::ChannelRecord> changed{channel(0, hw(1, 7, 7, 5), "NEW1"),
                                                  channel(0, hw(1, 7, 7, 6), "NEW2")};
    sim_host::write_channel_file(folder, qvr::ChannelKind::AI, changed, TimeStamp{});
    set_file_time(1'700'000'100);
    EXPECT_EQ(tolva::reload_channels_if_changed(0, data, conf, load), 2 * 216);
    EXPECT_EQ(std::string(chanrec_GetTag(host.channel_record("A1", 2))), "NEW2");

    // Touching the file without changing it reloads it too.
    set_file_time(1'700'000'200);
    EXPECT_EQ(tolva::reload_channels_if_changed(0, data, conf, load), 2 * 216);
    EXPECT_EQ(loads, 3);
}

TEST_F(Reload, FailuresLeaveTheModuleTimeAsItWas) {
    set_file_time(1'700'000'000);
    const TimeStamp before = module_time();
    EXPECT_EQ(tolva::reload_channels_if_changed(0, data, conf, [](int, auto) { return -1; }), -1);
    errno = 0;
    EXPECT_EQ(tolva::reload_channels_if_changed(0, data, conf, {}), -1);
    EXPECT_EQ(errno, ENOSYS);
    const TimeStamp after = module_time();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);

    fs::remove(folder / "ai");
    errno = 0;
    EXPECT_EQ(tolva::reload_channels_if_changed(0, data, conf, load), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(tolva::reload_channels_if_changed(7, data, conf, load), -1);
}

}  // namespace
