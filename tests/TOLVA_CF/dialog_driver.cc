#include "dialog_driver.h"

#include <QApplication>
#include <QComboBox>
#include <QMetaObject>
#include <QTest>
#include <QTimer>

namespace tolva_cf_test {

namespace {

constexpr int kPollMs = 10;
constexpr int kMaxPolls = 3000;  // an upper bound only, so a broken test cannot hang

QString g_name;
DialogAction g_action;
bool g_ran = false;

void run_when_shown(int polls_left) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog && dialog->isVisible() && dialog->objectName() == g_name && g_action) {
            auto action = std::move(g_action);
            g_action = nullptr;
            g_ran = true;
            action(*dialog);
            return;
        }
    }
    if (polls_left > 0) QTimer::singleShot(kPollMs, [polls_left] { run_when_shown(polls_left - 1); });
}

void start_polling() {
    if (!g_action) return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { run_when_shown(kMaxPolls); }, Qt::QueuedConnection);
}

}  // namespace

void when_dialog_shown(const QString& object_name, DialogAction action) {
    static const bool registered = [] {
        qAddPreRoutine(start_polling);
        return true;
    }();
    (void)registered;
    g_name = object_name;
    g_action = std::move(action);
    g_ran = false;
    if (QCoreApplication::instance() != nullptr) start_polling();
}

bool dialog_action_ran() {
    return g_ran;
}

void choose_with_keys(QWidget& combo, int index) {
    QTest::keyClick(&combo, Qt::Key_Home);
    for (int i = 0; i < index; ++i) QTest::keyClick(&combo, Qt::Key_Down);
}

}  // namespace tolva_cf_test
