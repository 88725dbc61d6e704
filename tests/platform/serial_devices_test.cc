// The machine's serial devices as the port list offers them, with pseudo-terminals standing
// in for USB adapters: device nodes and by-id names are links in folders the listing takes
// from its test hook.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/registry_key.h"
#include "platform/registry_store.h"
#include "platform/serial_port.h"
#include "platform/serial_port_names.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::SerialDevice;

void map_port(const std::string& name, const std::string& device) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, platform::kSerialPortsKey,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string(name, device), 0);
}

// A pseudo-terminal pair; its slave stands in for an adapter's device.
struct Adapter {
    Adapter() {
        int slave = -1;
        std::array<char, 128> name{};
        EXPECT_EQ(openpty(&master, &slave, name.data(), nullptr, nullptr), 0);
        ::close(slave);
        path = name.data();
    }
    ~Adapter() { ::close(master); }
    int master = -1;
    std::string path;
};

struct SerialDevices : testing::Test {
    // Every case starts from a machine without a port map.
    static void forget_port_map() {
        std::error_code ec;
        fs::remove_all(platform::registry_hive_file(platform::RegistryHive::machine), ec);
    }
    void SetUp() override {
        forget_port_map();
        fs::create_directories(root / "class" / "ttyS0" / "device");
        qvr_test::write_file(root / "class" / "ttyS0" / "type", "4\n");
        fs::create_directories(root / "class" / "ttyS1" / "device");
        qvr_test::write_file(root / "class" / "ttyS1" / "type", "0\n");  // no UART
        fs::create_directories(root / "dev");
        fs::create_directories(root / "by-id");
        platform::set_serial_listing_folders(
            platform::SerialListingFolders{root / "class", root / "dev", root / "by-id"});
    }
    void TearDown() override {
        platform::set_serial_listing_folders(std::nullopt);
        forget_port_map();
    }

    // `node` below the device folder links to the adapter; `stable` (when given) below the
    // by-id folder links to the node, relative as udev makes them.
    void plug(const Adapter& a, const std::string& node, const std::string& stable = {}) {
        fs::create_symlink(a.path, root / "dev" / node);
        if (!stable.empty()) fs::create_symlink("../dev/" + node, root / "by-id" / stable);
    }
    std::string dev(const std::string& node) const { return (root / "dev" / node).string(); }
    std::string by_id(const std::string& name) const { return (root / "by-id" / name).string(); }

    qvr_test::TempDir dir;
    fs::path root = dir.path();
};

TEST_F(SerialDevices, ListsBuiltInLinesAdaptersWithTheirStableNamesAndMappedNames) {
    Adapter usb, acm, mapped;
    plug(usb, "ttyUSB0", "usb-Plant_Serial_A1-if00-port0");
    plug(acm, "ttyACM0");
    plug(mapped, "ttyUSB1", "usb-Plant_Serial_B2-if00-port0");
    map_port("COM5", by_id("usb-Plant_Serial_B2-if00-port0"));
    map_port("COM9", "/dev/ttyUSB7");                    // an adapter that is not plugged in now
    qvr_test::write_file(root / "dev" / "ttyUSBx", "");  // not a device name

    const auto devices = platform::serial_devices();
    ASSERT_EQ(devices.size(), 5u);
    EXPECT_EQ(devices[0].port_name, "COM1");
    EXPECT_EQ(devices[0].device, dev("ttyS0"));
    EXPECT_TRUE(devices[0].built_in);
    EXPECT_EQ(devices[1].port_name, "COM5");
    EXPECT_EQ(devices[1].device, dev("ttyUSB1"));
    EXPECT_EQ(devices[1].by_id, by_id("usb-Plant_Serial_B2-if00-port0"));
    EXPECT_EQ(devices[2].port_name, "COM9");
    EXPECT_EQ(devices[2].device, "/dev/ttyUSB7");
    EXPECT_EQ(devices[3].port_name, "");
    EXPECT_EQ(devices[3].device, dev("ttyACM0"));
    EXPECT_EQ(devices[3].map_path(), dev("ttyACM0"));
    EXPECT_EQ(devices[4].port_name, "");
    EXPECT_EQ(devices[4].map_path(), by_id("usb-Plant_Serial_A1-if00-port0"));

    // Above the built-in line and every name in use, and not one the map holds.
    map_port("COM10", "/dev/ttyUSB8");
    EXPECT_EQ(platform::next_free_port_name(platform::serial_devices()), "COM11");
}

TEST_F(SerialDevices, ANewMapEntryNamesTheAdapterAndTheScannersPortOpensIt) {
    Adapter usb;
    plug(usb, "ttyUSB0", "usb-Plant_Serial_A1-if00-port0");
    auto devices = platform::serial_devices();
    const std::string name = platform::next_free_port_name(devices);
    EXPECT_EQ(name, "COM2");
    ASSERT_EQ(platform::add_serial_port_mapping(name, devices.back().map_path()), 0);
    EXPECT_EQ(platform::add_serial_port_mapping(name, "/dev/ttyUSB3"), -1);
    EXPECT_EQ(errno, EEXIST);

    devices = platform::serial_devices();
    EXPECT_EQ(devices.back().port_name, "COM2");
    std::string path;
    ASSERT_EQ(platform::serial_device_path("COM2", path), 0);
    EXPECT_EQ(path, by_id("usb-Plant_Serial_A1-if00-port0"));
    platform::SerialPort port;
    ASSERT_EQ(port.open("COM2", 19200), 0) << errno;
    const uint8_t byte = 0x10;
    ASSERT_EQ(port.write_some(std::span(&byte, 1)), 1);
    uint8_t got = 0;
    EXPECT_EQ(::read(usb.master, &got, 1), 1);
    EXPECT_EQ(got, 0x10);
}

TEST_F(SerialDevices, MapEntriesAreRefusedWhenTheyCouldNotBeOpened) {
    EXPECT_EQ(platform::add_serial_port_mapping("TTY1", "/dev/ttyUSB0"), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(platform::add_serial_port_mapping("COM4", "ttyUSB0"), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(platform::serial_port_mapping_text("COM4", "/dev/serial/by-id/usb-A\"B"),
              "[SOFTWARE\\Brevantic\\Quorvane\\SerialPorts]\n\"COM4\"=\"/dev/serial/by-id/usb-A\\\"B\"\n");
}

TEST_F(SerialDevices, AnUnwritableMachineHiveFailsTheMappingAndWritesNothing) {
    // A folder where the hive file should be: neither read nor written.
    fs::create_directories(platform::registry_hive_file(platform::RegistryHive::machine));
    EXPECT_EQ(platform::add_serial_port_mapping("COM4", "/dev/ttyUSB0"), -1);
    EXPECT_NE(errno, 0);
    forget_port_map();
    std::string path;
    ASSERT_EQ(platform::serial_device_path("COM4", path), 0);
    EXPECT_EQ(path, "/dev/ttyS3");  // no entry was left behind
}

}  // namespace
