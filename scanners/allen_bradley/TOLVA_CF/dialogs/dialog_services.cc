#include "TOLVA_CF/dialogs/dialog_services.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <QWidget>

#include "TOLVA_CF/logic/help_pages.h"

namespace tolva::cf {

void QtMessageBoxes::warning(QWidget* parent, const std::string& text) {
    const QString title = parent ? parent->windowTitle() : QString();
    QMessageBox::warning(parent, title, QString::fromStdString(text));
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
