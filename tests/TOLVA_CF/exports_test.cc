// The entry points called through dlopen, as the configuration program calls them. This
// program plays the configuration program: it exports qvr_HostApplication.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "library_fixture.h"
#include "platform/registry_key.h"
#include "platform/serial_port_names.h"
#include "qvr/records/channel_record.h"

namespace {

QvrHostApplication g_host{1, {}};

}  // namespace

extern "C" QvrHostApplication qvr_HostApplication() {
    return g_host;
}

namespace {

using qvr::ChannelKind;
using qvr::ChannelRecord;
using tolva_cf_test::when_dialog_shown;

void set_host(std::uint16_t port, const char* server) {
    g_host.DefaultPortNumber = port;
    std::snprintf(g_host.ServerName, sizeof g_host.ServerName, "%s", server);
}

void put_float(ChannelRecord& r, std::size_t offset, float v) {
    std::memcpy(r.bytes + offset, &v, sizeof v);
}

const std::uint8_t kAddress[16] = {3, 7, 12, 0, 4, 0, 2, 0, 0xFF, 0xFF, 4, 0, 0, 0, 0, 0};

ChannelRecord analog_input() {
    ChannelRecord r{};
    r.head.Type = ChannelKind::AI;
    chanrec_SetTag(&r, "ABCDEFGHIJKLMNO");
    chanrec_SetDescription(&r, "Pump 3 discharge pressure, east!");
    chanrec_SetUnits(&r, "kPa abs.");
    r.head.Flags.set(qvr::AnalogFlag::Enable, true);
    r.head.Flags.set(qvr::AnalogFlag::HighAlarmEnable, true);
    r.head.Flags.set(qvr::AnalogFlag::ScalingEnable, true);
    for (std::size_t offset = 36; offset <= 68; offset += 4)
        put_float(r, offset, 1.5f + static_cast<float>(offset));
    r.analog.HighAlarmPriority = 3;
    std::memcpy(r.analog.HighAlarmText, "Pressure high", 13);
    r.analog.ErrorAlarmDelay = 30;
    for (std::size_t offset = 168; offset <= 180; offset += 4) put_float(r, offset, 9.0f);
    std::memcpy(r.bytes + 188, kAddress, sizeof kAddress);
    return r;
}

ChannelRecord digital_input() {
    ChannelRecord r{};
    r.head.Type = ChannelKind::DI;
    chanrec_SetTag(&r, "VALVE12OPENLIMT");
    chanrec_SetDescription(&r, "Valve 12 open limit switch, west");
    r.head.Flags.set(qvr::DigitalFlag::Enable, true);
    r.head.Flags.set(qvr::DigitalFlag::AlarmEnable, true);
    std::memcpy(r.digital.HighStateText, "OPEN", 4);
    std::memcpy(r.digital.LowStateText, "SHUT", 4);
    std::memcpy(r.digital.AlarmText, "Valve left open", 15);
    r.digital.AlarmDelay = 12;
    std::memcpy(r.bytes + 192, kAddress, sizeof kAddress);
    std::memset(r.bytes + 208, 0x5A, 8);
    return r;
}

ChannelRecord garbage() {
    ChannelRecord r;
    std::memset(r.bytes, 0xA5, sizeof r.bytes);
    return r;
}

// What a layout-changing paste leaves: the head, the tag and description extensions,
// Enable and the moved address; everything else zero.
ChannelRecord converted(const ChannelRecord& from, ChannelKind kind) {
    ChannelRecord r{};
    std::memcpy(r.bytes, from.bytes, 28);
    std::memcpy(r.bytes + 138, from.bytes + 138, 23);
    r.head.Type = kind;
    r.head.Flags.set(qvr::AnalogFlag::Enable, from.head.Flags.test(qvr::AnalogFlag::Enable));
    if (qvr::is_digital(kind)) {
        std::memcpy(r.bytes + 192, from.bytes + 188, 16);
        std::memcpy(r.digital.HighStateText, "HIGH", 4);
        std::memcpy(r.digital.LowStateText, "LOW", 3);
    } else {
        std::memcpy(r.bytes + 188, from.bytes + 192, 16);
    }
    return r;
}

class Exports : public tolva_cf_test::LibraryTest {};

TEST_F(Exports, PasteAnalogInputAsDigitalOutput) {
    const ChannelRecord source = analog_input();
    ChannelRecord destination = garbage();
    int modified = 0;
    paste(nullptr, nullptr, static_cast<unsigned>(ChannelKind::DO), 0, &destination, &source, &modified);
    EXPECT_EQ(modified, 1);
    EXPECT_TRUE(destination == converted(source, ChannelKind::DO));
    // Spelled out: the whole tag and description survive, the address moved, limits went.
    EXPECT_STREQ(chanrec_GetTag(&destination), "ABCDEFGHIJKLMNO");
    EXPECT_STREQ(chanrec_GetDescription(&destination), "Pump 3 discharge pressure, east!");
    EXPECT_EQ(destination.head.Flags.word(), 0x01u);
    EXPECT_STREQ(destination.digital.HighStateText, "HIGH");
    EXPECT_STREQ(destination.digital.LowStateText, "LOW");
    EXPECT_EQ(std::memcmp(destination.digital.Digital, kAddress, sizeof kAddress), 0);
    EXPECT_EQ(destination.digital.AlarmPriority, 0);
}

TEST_F(Exports, PasteDigitalInputAsAnalogOutput) {
    const ChannelRecord source = digital_input();
    ChannelRecord destination = garbage();
    int modified = 0;
    paste(nullptr, nullptr, static_cast<unsigned>(ChannelKind::AO), 0, &destination, &source, &modified);
    EXPECT_EQ(modified, 1);
    EXPECT_TRUE(destination == converted(source, ChannelKind::AO));
    EXPECT_STREQ(chanrec_GetTag(&destination), "VALVE12OPENLIMT");
    EXPECT_STREQ(chanrec_GetDescription(&destination), "Valve 12 open limit switch, west");
    EXPECT_STREQ(chanrec_GetUnits(&destination), "");
    EXPECT_EQ(std::memcmp(destination.analog.Analogue, kAddress, sizeof kAddress), 0);
    EXPECT_TRUE(destination.head.Flags.test(qvr::AnalogFlag::Enable));
}

TEST_F(Exports, PasteWithinALayoutChangesOnlyTheKind) {
    struct Case {
        ChannelRecord source;
        ChannelKind kind;
    };
    for (const Case& c : {Case{analog_input(), ChannelKind::AO}, Case{analog_input(), ChannelKind::CI},
                          Case{digital_input(), ChannelKind::DO}, Case{digital_input(), ChannelKind::DI}}) {
        ChannelRecord destination = garbage();
        int modified = 0;
        paste(nullptr, nullptr, static_cast<unsigned>(c.kind), 0, &destination, &c.source, &modified);
        ChannelRecord expected = c.source;
        expected.head.Type = c.kind;
        EXPECT_TRUE(destination == expected) << static_cast<int>(c.kind);
        EXPECT_EQ(modified, 1);
    }
}

TEST_F(Exports, PasteTakesTheKindFromTheLowByteOfTheFlags) {
    const ChannelRecord source = analog_input();
    ChannelRecord destination{};
    int modified = 0;
    paste(nullptr, nullptr, 0x1203u, 0, &destination, &source, &modified);
    EXPECT_TRUE(destination == converted(source, ChannelKind::DO));
}

TEST_F(Exports, PasteOntoTheSourceItself) {
    ChannelRecord record = analog_input();
    const ChannelRecord expected = converted(record, ChannelKind::DI);
    int modified = 0;
    paste(nullptr, nullptr, static_cast<unsigned>(ChannelKind::DI), 0, &record, &record, &modified);
    EXPECT_TRUE(record == expected);
}

TEST_F(Exports, NullRecordsAreRefusedQuietly) {
    ChannelRecord record = analog_input();
    const ChannelRecord before = record;
    int modified = 0;
    paste(nullptr, nullptr, 3, 0, nullptr, &record, &modified);
    paste(nullptr, nullptr, 3, 0, &record, nullptr, &modified);
    config_chan(nullptr, nullptr, 0, 0, nullptr, &modified);
    config_advan(nullptr, nullptr, &modified);
    EXPECT_EQ(modified, 0);
    EXPECT_TRUE(record == before);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    paste(nullptr, nullptr, 3, 0, &record, &before, nullptr);  // no result pointer: still pasted
    EXPECT_TRUE(record == converted(before, ChannelKind::DO));
}

TEST_F(Exports, ChannelDialogOnAnApplicationOfItsOwnLeavesTheProgramsLocale) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    setenv("LC_ALL", "de_DE.UTF-8", 1);  // what Qt would switch the program to
    ChannelRecord record = digital_input();
    int modified = 0;
    when_dialog_shown("CChannel", [](QDialog& dialog) {
        dialog.findChild<QLineEdit*>("ctl_1008")->setText("5");
        dialog.findChild<QPushButton*>("ctl_ok")->click();
    });
    config_chan(nullptr, nullptr, 1, 0, &record, &modified);
    EXPECT_TRUE(tolva_cf_test::dialog_action_ran());
    EXPECT_EQ(modified, 1);
    EXPECT_EQ(record.bytes[192], 5);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
    char number[16];
    std::snprintf(number, sizeof number, "%.1f", 1.5);
    EXPECT_STREQ(number, "1.5");

    // A second call makes its application again.
    modified = 0;
    when_dialog_shown("CChannel",
                      [](QDialog& dialog) { dialog.findChild<QPushButton*>("ctl_cancel")->click(); });
    config_chan(nullptr, nullptr, 1, 0, &record, &modified);
    EXPECT_TRUE(tolva_cf_test::dialog_action_ran());
    EXPECT_EQ(modified, 0);
}

TEST_F(Exports, ChannelDialogOnTheProgramsApplicationAndWindow) {
    static int argc = 1;
    static char name[] = "config";
    static char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QWidget main_window;
    main_window.show();
    ChannelRecord record = analog_input();
    const ChannelRecord before = record;
    int modified = 0;
    QWidget* dialog_parent = nullptr;
    QString preview;
    when_dialog_shown("CChannel", [&](QDialog& dialog) {
        dialog_parent = dialog.parentWidget();
        preview = dialog.findChild<QWidget*>("ctl_1005")->property("text").toString();
        dialog.findChild<QPushButton*>("ctl_ok")->click();
    });
    config_chan(&main_window, nullptr, 0, 0, &record, &modified);
    EXPECT_TRUE(tolva_cf_test::dialog_action_ran());
    EXPECT_EQ(dialog_parent, &main_window);
    EXPECT_EQ(preview.toStdString(), "$N12:4");
    EXPECT_EQ(QCoreApplication::instance(), &application);
    EXPECT_EQ(modified, 0);
    EXPECT_TRUE(record == before);
}

struct PortList {
    std::vector<std::string> names;
    std::string current;
};

class CommExports : public tolva_cf_test::LibraryTest {
  protected:
    // Runs the communication dialog on `device`, pressing OK or Cancel, and returns the
    // ports it offered.
    PortList run(tolva::HostDeviceRecord& device, bool accept, int& modified) {
        auto list = std::make_shared<PortList>();
        when_dialog_shown("CComport", [list, accept](QDialog& dialog) {
            auto* port = dialog.findChild<QComboBox*>("ctl_601");
            for (int i = 0; i < port->count(); ++i) list->names.push_back(port->itemText(i).toStdString());
            list->current = port->currentText().toStdString();
            dialog.findChild<QPushButton*>(accept ? "ctl_ok" : "ctl_cancel")->click();
        });
        config_advan(nullptr, &device, &modified);
        EXPECT_TRUE(tolva_cf_test::dialog_action_ran());
        return *list;
    }

    static tolva::HostDeviceRecord device(const char* port, std::uint32_t baud) {
        tolva::HostDeviceRecord d;
        std::memset(&d, 0x3C, sizeof d);
        std::memset(&d.Config.Comm, 0, sizeof d.Config.Comm);
        std::strncpy(d.Config.Comm.CommPort, port, sizeof d.Config.Comm.CommPort);
        d.Config.Comm.BaudRate = baud;
        return d;
    }
};

bool same_outside_comm(const tolva::HostDeviceRecord& a, const tolva::HostDeviceRecord& b) {
    const auto* pa = reinterpret_cast<const std::uint8_t*>(&a);
    const auto* pb = reinterpret_cast<const std::uint8_t*>(&b);
    constexpr std::size_t begin = offsetof(tolva::HostDeviceRecord, Config.Comm);
    constexpr std::size_t end = begin + sizeof(tolva::CommSettings);
    return std::memcmp(pa, pb, begin) == 0 && std::memcmp(pa + end, pb + end, sizeof a - end) == 0;
}

TEST_F(CommExports, EmptyPortTakesTheApplicationsDefaultAndTheMachinesPortsAreOffered) {
    set_host(4, "");
    platform::RegistryKey map;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, platform::kSerialPortsKey,
                                            platform::kKeyAllAccess, map),
              0);
    ASSERT_EQ(map.set_string("COM5", "/dev/ttyUSB7"), 0);

    tolva::HostDeviceRecord record = device("", 0);
    const tolva::HostDeviceRecord before = record;
    int modified = 0;
    const PortList offered = run(record, true, modified);
    EXPECT_EQ(offered.current, "COM4");
    EXPECT_NE(std::find(offered.names.begin(), offered.names.end(), "COM5"), offered.names.end());
    EXPECT_EQ(modified, 1);
    EXPECT_EQ(tolva::comm_port(record.Config.Comm), "COM4");
    EXPECT_EQ(record.Config.Comm.BaudRate, 19200u);
    EXPECT_TRUE(same_outside_comm(record, before));
}

TEST_F(CommExports, ARemoteServerOffersOnlyTheDevicesPort) {
    set_host(1, "configserver7");
    tolva::HostDeviceRecord record = device("COM7", 9600);
    int modified = 0;
    const PortList offered = run(record, false, modified);
    EXPECT_EQ(offered.names, std::vector<std::string>{"COM7"});
    EXPECT_EQ(modified, 0);
}

TEST_F(CommExports, ADefaultPortThatDoesNotFitLeavesThePortEmpty) {
    set_host(1000, "");
    tolva::HostDeviceRecord record = device("", 9600);
    int modified = 0;
    const PortList offered = run(record, true, modified);
    EXPECT_EQ(offered.current, "");
    EXPECT_EQ(std::find(offered.names.begin(), offered.names.end(), "COM100"), offered.names.end());
    EXPECT_EQ(modified, 0);
    EXPECT_EQ(tolva::comm_port(record.Config.Comm), "");
}

}  // namespace
