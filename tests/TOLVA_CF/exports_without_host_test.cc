// A configuration program that exports no application values: the library takes its
// defaults. Also checks what the library ships beside itself.
#include <QComboBox>
#include <QPushButton>

#include <cstring>
#include <filesystem>
#include <string>

#include "dialog_driver.h"
#include "library_fixture.h"

namespace {

class ExportsWithoutHost : public tolva_cf_test::LibraryTest {};

TEST_F(ExportsWithoutHost, EmptyPortBecomesTheFirstPort) {
    ASSERT_EQ(dlsym(RTLD_DEFAULT, kHostApplicationSymbol), nullptr);
    tolva::HostDeviceRecord device{};
    int modified = 0;
    std::string offered;
    tolva_cf_test::when_dialog_shown("CComport", [&offered](QDialog& dialog) {
        offered = dialog.findChild<QComboBox*>("ctl_601")->currentText().toStdString();
        dialog.findChild<QPushButton*>("ctl_ok")->click();
    });
    config_advan(nullptr, &device, &modified);
    ASSERT_TRUE(tolva_cf_test::dialog_action_ran());
    EXPECT_EQ(offered, "COM1");
    EXPECT_EQ(modified, 1);
    EXPECT_EQ(tolva::comm_port(device.Config.Comm), "COM1");
    EXPECT_EQ(device.Config.Comm.BaudRate, 19200u);
}

TEST_F(ExportsWithoutHost, HelpPagesLieBesideTheLibrary) {
    for (const char* topic : {"chanaddr", "commport"}) {
        const std::filesystem::path page = qvr_test::bin_path("TOLVA_CF-help/html/") + topic + ".htm";
        EXPECT_TRUE(std::filesystem::is_regular_file(page)) << page;
    }
}

}  // namespace
