#include "TOLVA_CF/dialogs/comport_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <pty.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "TOLVA_CF/logic/machine_ports.h"
#include "dialog_driver.h"
#include "platform/registry_store.h"
#include "platform/serial_port.h"
#include "platform/serial_port_names.h"
#include "qt_fixture.h"
#include "support/temp_dir.h"

namespace {

using tolva::CommSettings;
using tolva::cf::CComport;
namespace ctl = tolva::cf::comm_ctl;
using tolva_cf_test::choose_with_keys;
using Ports = std::optional<std::vector<std::string>>;

class CommDialog : public tolva_cf_test::QtDialogTest {
  protected:
    static CommSettings settings(const char* port, std::uint32_t baud) {
        CommSettings s{};
        std::strncpy(s.CommPort, port, sizeof s.CommPort);
        s.BaudRate = baud;
        s.MaxRetries = 2;
        s.MaxEnquires = 3;
        s.ReplyTimeout = 5;
        s.ReplyAck = 20;
        return s;
    }
    static std::vector<std::string> items(QComboBox* list) {
        std::vector<std::string> names;
        for (int i = 0; list && i < list->count(); ++i) names.push_back(list->itemText(i).toStdString());
        return names;
    }
    static void retype(QLineEdit& edit, const char* text) {
        edit.setFocus();
        edit.selectAll();
        QTest::keyClicks(&edit, text);
    }
};

TEST_F(CommDialog, SettingsEditedThroughItsWidgets) {
    CommSettings comm = settings("COM1", 9600);
    int modified = 0;
    CComport dialog(nullptr, 1, comm, &modified, Ports{{"COM1", "COM2", "COM3"}}, messages, help);
    ASSERT_NO_FATAL_FAILURE(show(dialog));
    EXPECT_EQ(dialog.windowTitle(), "Advanced Device Specific Configuration");
    auto* port = control<QComboBox>(dialog, ctl::kPort);
    auto* baud = control<QComboBox>(dialog, ctl::kBaudRate);
    auto* read_back = control<QCheckBox>(dialog, ctl::kReadBack);
    auto* timeout = control<QLineEdit>(dialog, ctl::kReplyTimeout);
    auto* retries = control<QLineEdit>(dialog, ctl::kMaxRetries);
    ASSERT_TRUE(port && baud && read_back && timeout && retries);
    EXPECT_EQ(port->currentText(), "COM1");
    EXPECT_EQ(baud->currentText(), "9600");
    EXPECT_FALSE(control<QCheckBox>(dialog, ctl::kReadFirst)->isChecked());

    port->setFocus();
    choose_with_keys(*port, 2);
    baud->setFocus();
    choose_with_keys(*baud, 7);
    QTest::mouseClick(read_back, Qt::LeftButton);
    retype(*timeout, "9");
    retype(*retries, "4");
    ASSERT_NO_FATAL_FAILURE(save_screenshot(dialog, "comm_dialog"));

    QTest::mouseClick(named<QPushButton>(dialog, "ctl_ok"), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_EQ(modified, 1);
    EXPECT_EQ(tolva::comm_port(comm), "COM3");
    EXPECT_EQ(comm.BaudRate, 38400u);
    EXPECT_EQ(comm.ReadFirst, 0);
    EXPECT_EQ(comm.ReadBack, 1);
    EXPECT_EQ(comm.ReplyTimeout, 9u);
    EXPECT_EQ(comm.ReplyAck, 20u);
    EXPECT_EQ(comm.MaxRetries, 4u);
    EXPECT_EQ(comm.MaxEnquires, 3u);
}

TEST_F(CommDialog, OffersTheDevicesPortAndRateEvenWhenUnlisted) {
    CommSettings comm = settings("COM9", 57600);
    const CommSettings before = comm;
    int modified = 0;
    CComport dialog(nullptr, 1, comm, &modified, Ports{{"COM1", "COM2"}}, messages, help);
    ASSERT_NO_FATAL_FAILURE(show(dialog));
    auto* port = control<QComboBox>(dialog, ctl::kPort);
    auto* baud = control<QComboBox>(dialog, ctl::kBaudRate);
    EXPECT_EQ(items(port), (std::vector<std::string>{"COM1", "COM2", "COM9"}));
    EXPECT_EQ(port->currentText(), "COM9");
    EXPECT_EQ(baud->currentText(), "57600");
    QTest::mouseClick(named<QPushButton>(dialog, "ctl_ok"), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(modified, 0);
    EXPECT_EQ(std::memcmp(&comm, &before, sizeof comm), 0);
}

TEST_F(CommDialog, NegativeTimeOutIsRefused) {
    CommSettings comm = settings("COM1", 19200);
    const CommSettings before = comm;
    int modified = 0;
    CComport dialog(nullptr, 1, comm, &modified, Ports{{"COM1"}}, messages, help);
    ASSERT_NO_FATAL_FAILURE(show(dialog));
    auto* ack = control<QLineEdit>(dialog, ctl::kReplyAck);
    ASSERT_TRUE(ack);
    retype(*ack, "-5");
    QTest::mouseClick(named<QPushButton>(dialog, "ctl_ok"), Qt::LeftButton);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Please enter an integer between 0 and 2147483647."});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), ack);
    QTest::mouseClick(named<QPushButton>(dialog, "ctl_cancel"), Qt::LeftButton);
    EXPECT_EQ(modified, 0);
    EXPECT_EQ(std::memcmp(&comm, &before, sizeof comm), 0);
}

TEST_F(CommDialog, HelpOpensTheDialogsTopic) {
    CommSettings comm = settings("COM1", 19200);
    CComport dialog(nullptr, 1, comm, nullptr, std::nullopt, messages, help);
    ASSERT_NO_FATAL_FAILURE(show(dialog));
    EXPECT_EQ(items(control<QComboBox>(dialog, ctl::kPort)), std::vector<std::string>{"COM1"});
    QTest::mouseClick(named<QPushButton>(dialog, "ctl_help"), Qt::LeftButton);
    EXPECT_EQ(help.topics, std::vector<std::string>{"commport"});
}

// A pseudo-terminal stands in for a USB adapter: its node and by-id name are links in the
// folders the listing takes from its test hook.
class AdapterDialog : public CommDialog {
  protected:
    // Every case starts from a machine without a port map.
    static void forget_port_map() {
        std::error_code ec;
        std::filesystem::remove_all(platform::registry_hive_file(platform::RegistryHive::machine), ec);
    }
    void SetUp() override {
        CommDialog::SetUp();
        forget_port_map();
        int slave = -1;
        std::array<char, 128> name{};
        ASSERT_EQ(openpty(&master_, &slave, name.data(), nullptr, nullptr), 0);
        ::close(slave);
        namespace fs = std::filesystem;
        fs::create_directories(dir_ / "dev");
        fs::create_directories(dir_ / "by-id");
        fs::create_symlink(name.data(), dir_ / "dev" / "ttyUSB0");
        fs::create_symlink("../dev/ttyUSB0", dir_ / "by-id" / kStable);
        platform::set_serial_listing_folders(
            platform::SerialListingFolders{dir_ / "class", dir_ / "dev", dir_ / "by-id"});
    }
    void TearDown() override {
        platform::set_serial_listing_folders(std::nullopt);
        forget_port_map();
        if (master_ >= 0) ::close(master_);
        CommDialog::TearDown();
    }
    std::string stable_path() const { return (dir_ / "by-id" / kStable).string(); }

    static constexpr const char* kStable = "usb-Plant_Serial_A1-if00-port0";
    qvr_test::TempDir dir_;
    int master_ = -1;
};

TEST_F(AdapterDialog, ChoosingAnAdapterNamesItInThePortMapAndTheScannersPortOpensIt) {
    CommSettings comm = settings("COM1", 19200);
    int modified = 0;
    CComport dialog(nullptr, 1, comm, &modified, tolva::cf::configuration_server_port_offers(""), messages,
                    help);
    ASSERT_NO_FATAL_FAILURE(show(dialog));
    auto* port = control<QComboBox>(dialog, ctl::kPort);
    ASSERT_TRUE(port);
    const std::string label = std::string(kStable) + " (" + (dir_ / "dev" / "ttyUSB0").string() + ")";
    EXPECT_EQ(items(port), (std::vector<std::string>{label, "COM1"}));
    port->setFocus();
    choose_with_keys(*port, 0);
    QTest::mouseClick(named<QPushButton>(dialog, "ctl_ok"), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_EQ(modified, 1);
    // No built-in line here; COM1, the device's old port, is shown: the next one.
    EXPECT_EQ(tolva::comm_port(comm), "COM2");
    EXPECT_EQ(port->itemText(0).toStdString(), "COM2 - " + label);
    std::string path;
    ASSERT_EQ(platform::serial_device_path("COM2", path), 0);
    EXPECT_EQ(path, stable_path());
    platform::SerialPort opened;
    EXPECT_EQ(opened.open("COM2", 19200), 0) << errno;
}

TEST_F(AdapterDialog, WhenTheMapMayNotBeWrittenTheDialogShowsTheEntryAndTakesNothing) {
    CommSettings comm = settings("COM1", 19200);
    const CommSettings before = comm;
    int modified = 0;
    tolva::cf::PortMapper refused{[](const std::vector<std::string>&) { return std::string("COM2"); },
                                  [](std::string_view, std::string_view) {
                                      errno = EACCES;
                                      return -1;
                                  }};
    CComport dialog(nullptr, 1, comm, &modified, tolva::cf::configuration_server_port_offers(""), messages,
                    help, refused);
    ASSERT_NO_FATAL_FAILURE(show(dialog));
    auto* port = control<QComboBox>(dialog, ctl::kPort);
    port->setFocus();
    choose_with_keys(*port, 0);
    QTest::mouseClick(named<QPushButton>(dialog, "ctl_ok"), Qt::LeftButton);
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_NE(messages.texts[0].find("may not change the port map"), std::string::npos) << messages.texts[0];
    EXPECT_NE(messages.texts[0].find("[SOFTWARE\\Brevantic\\Quorvane\\SerialPorts]\n\"COM2\"=\"" +
                                     stable_path() + "\""),
              std::string::npos)
        << messages.texts[0];
    EXPECT_TRUE(dialog.isVisible());
    QTest::mouseClick(named<QPushButton>(dialog, "ctl_cancel"), Qt::LeftButton);
    EXPECT_EQ(modified, 0);
    EXPECT_EQ(std::memcmp(&comm, &before, sizeof comm), 0);
    std::string path;
    ASSERT_EQ(platform::serial_device_path("COM2", path), 0);
    EXPECT_EQ(path, "/dev/ttyS1");  // nothing was mapped
}

}  // namespace
