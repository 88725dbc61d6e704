#include "TOLVA_CF/dialogs/comport_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <cstring>
#include <optional>

#include "dialog_driver.h"
#include "qt_fixture.h"

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

}  // namespace
