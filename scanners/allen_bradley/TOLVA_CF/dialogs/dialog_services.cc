#include "TOLVA_CF/dialogs/dialog_services.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <QWidget>

#include "TOLVA_CF/logic/help_pages.h"
#include "qvr/requests/logger_requests.h"

namespace tolva::cf {

void QtMessageBoxes::warning(QWidget* parent, const std::string& text) {
    const QString title = parent ? parent->windowTitle() : QString();
    QMessageBox::warning(parent, title, QString::fromStdString(text));
}

bool QtMessageBoxes::question(QWidget* parent, const std::string& title, const std::string& text) {
    return QMessageBox::question(parent, QString::fromStdString(title), QString::fromStdString(text),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

LibraryQuestionScope::LibraryQuestionScope(QWidget* parent, MessageBoxes& messages)
    : previous_(qvr::set_yes_no_question([parent, &messages](const std::string& title, const std::string& text) {
          return messages.question(parent, title, text);
      })) {}

LibraryQuestionScope::~LibraryQuestionScope() {
    qvr::set_yes_no_question(std::move(previous_));
}

void DesktopHelpPages::open(QWidget* parent, std::string_view topic) {
    const std::filesystem::path page = help_page_path(module_path_, topic);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(page, ec)) {
        messages_.warning(parent, "The help page " + page.string() + " is missing.");
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(page.string())))) {
        messages_.warning(parent, "The help page " + page.string() + " could not be opened.");
    }
}

}  // namespace tolva::cf
