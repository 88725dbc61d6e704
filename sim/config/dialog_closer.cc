#include "dialog_closer.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace sim_config {

namespace {

constexpr int kPollMs = 20;
constexpr int kMaxPolls = 1500;  // gives up after about 30 s rather than hanging

std::string g_name;
CloseAction g_action = CloseAction::none;
std::string* g_refusals = nullptr;

QDialog* shown_dialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->objectName() == QString::fromStdString(g_name)) {
            return qobject_cast<QDialog*>(widget);
        }
    }
    return nullptr;
}

// While OK's refusal message is up, its nested event loop runs this.
void dismiss_refusal(int polls_left) {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        if (g_refusals) *g_refusals += box->text().toStdString() + "\n";
        box->done(QMessageBox::Ok);
        return;
    }
    if (polls_left > 0) QTimer::singleShot(kPollMs, [polls_left] { dismiss_refusal(polls_left - 1); });
}

void close_when_shown(int polls_left) {
    QPointer<QDialog> dialog = shown_dialog();
    if (!dialog) {
        if (polls_left > 0) QTimer::singleShot(kPollMs, [polls_left] { close_when_shown(polls_left - 1); });
        return;
    }
    if (g_action == CloseAction::cancel) {
        dialog->reject();
        return;
    }
    QTimer::singleShot(0, [] { dismiss_refusal(kMaxPolls); });
    dialog->accept();
    if (dialog && dialog->isVisible()) dialog->reject();
}

void on_application_start() {
    if (g_action == CloseAction::none) return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { close_when_shown(kMaxPolls); }, Qt::QueuedConnection);
}

}  // namespace

void close_dialog_when_shown(const std::string& object_name, CloseAction action, std::string* refusals) {
    g_name = object_name;
    g_action = action;
    g_refusals = refusals;
    qAddPreRoutine(on_application_start);
}

}  // namespace sim_config
