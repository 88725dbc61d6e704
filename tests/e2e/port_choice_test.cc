// The port list and the communication dialog's choice of an adapter, end to end: the rig's
// pseudo-terminal stands in for a USB adapter without a port name, the dialog's logic names
// it in the port map, and the real tolva_sc opens it through that name and scans.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "TOLVA_CF/logic/comm_settings_form.h"
#include "TOLVA_CF/logic/machine_ports.h"
#include "controller/pseudo_terminal.h"
#include "platform/serial_port_names.h"
#include "scanner_rig.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(PortChoice, TheScannerOpensTheAdapterChosenInTheDialog) {
    e2e::ScannerRig rig;
    // The adapter is known by its node and stable name only.
    sim_controller::unmap_port_name(e2e::kPort);
    qvr_test::TempDir dir;
    fs::create_directories(dir / "dev");
    fs::create_directories(dir / "by-id");
    fs::create_symlink(rig.line.device_path(), dir / "dev" / "ttyUSB0");
    fs::create_symlink("../dev/ttyUSB0", dir / "by-id" / "usb-Plant_Serial_A1-if00-port0");
    platform::set_serial_listing_folders(
        platform::SerialListingFolders{dir / "class", dir / "dev", dir / "by-id"});

    const auto offers = tolva::cf::configuration_server_port_offers("");
    ASSERT_TRUE(offers);
    tolva::cf::CommSettingsForm form(1, rig.config.Comm, offers);
    const auto adapter =
        std::find_if(form.port_labels().begin(), form.port_labels().end(),
                     [](const std::string& l) { return l.starts_with("usb-Plant_Serial_A1"); });
    ASSERT_NE(adapter, form.port_labels().end());
    form.choose_port(static_cast<int>(adapter - form.port_labels().begin()));
    const auto refusal = form.accept();
    ASSERT_FALSE(refusal) << refusal->message;
    platform::set_serial_listing_folders(std::nullopt);
    ASSERT_TRUE(tolva::cf::commit_comm_settings(form, rig.config.Comm, nullptr));
    const std::string chosen(tolva::comm_port(rig.config.Comm));
    EXPECT_EQ(chosen, "COM4");  // above COM3, the device's own port

    ASSERT_GE(rig.add_device(), 0);
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    rig.network.set_value(e2e::kStationOne, "N7:0", 23);
    ASSERT_TRUE(rig.scan(*scanner));
    EXPECT_EQ(rig.host.value("A1", 1), 23.0f);
    tolva::DeviceConfigRecord shown;
    std::memcpy(&shown, rig.device()->DeviceConfig, sizeof shown);
    EXPECT_EQ(tolva::comm_port(shown.Comm), chosen);
    sim_controller::unmap_port_name(chosen);
}

}  // namespace
