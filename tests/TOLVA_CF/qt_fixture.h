#pragma once
// What the in-process dialog tests share: one widget application per test process,
// recorders in place of message boxes and help, widgets found by control id, screenshots.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QString>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "TOLVA_CF/dialogs/dialog_services.h"
#include "TOLVA_CF/logic/control_ids.h"

namespace tolva_cf_test {

class RecordingMessages final : public tolva::cf::MessageBoxes {
  public:
    void warning(QWidget*, const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

class RecordingHelp final : public tolva::cf::HelpPages {
  public:
    void open(QWidget*, std::string_view topic) override { topics.emplace_back(topic); }
    std::vector<std::string> topics;
};

class QtDialogTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "TOLVA_CF_test";
        static char* argv[] = {name, nullptr};
        application() = std::make_unique<QApplication>(argc, argv);
    }
    static void TearDownTestSuite() { application().reset(); }

    // Shows the dialog and makes it the active window, so that focus moves as for a user.
    static void show(QWidget& dialog) {
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }

    template <typename Widget>
    static Widget* control(QWidget& dialog, int id) {
        auto* widget = dialog.findChild<Widget*>(QString::fromStdString(tolva::cf::control_name(id)));
        EXPECT_NE(widget, nullptr) << id;
        return widget;
    }
    template <typename Widget>
    static Widget* named(QWidget& dialog, const char* name) {
        auto* widget = dialog.findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    // Saved under the build folder, for a person to look at.
    static void save_screenshot(QWidget& dialog, const char* name) {
        const QString folder = TOLVA_CF_SCREENSHOT_DIR;
        ASSERT_TRUE(QDir().mkpath(folder));
        const QPixmap picture = dialog.grab();
        ASSERT_FALSE(picture.isNull());
        EXPECT_TRUE(picture.save(folder + "/" + name + ".png"));
    }

    RecordingMessages messages;
    RecordingHelp help;

  private:
    static std::unique_ptr<QApplication>& application() {
        static std::unique_ptr<QApplication> app;
        return app;
    }
};

}  // namespace tolva_cf_test
