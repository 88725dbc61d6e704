#include "TOLVA_CF/dialogs/qt_print_target.h"

#include <QCoreApplication>
#include <QCursor>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>
#include <string>

#include "TOLVA_CF/dialogs/application_scope.h"
#include "platform/file_paths.h"
#include "platform/last_error.h"
#include "platform/windows_1252.h"

namespace tolva::cf {

namespace {

constexpr double kMarginMillimetres = 10.0;

class QtPrintTarget {
  public:
    explicit QtPrintTarget(std::string_view output) : application_(GuiUse::printing), output_(output) {
        target_.context = this;
        target_.start_page = &QtPrintTarget::start_page;
        target_.end_page = &QtPrintTarget::end_page;
        target_.draw_text = &QtPrintTarget::draw_text;
        target_.release = &QtPrintTarget::release;
        if (!application_.ready()) {
            platform::set_last_error(platform::kErrorFileNotFound);
            return;
        }
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        const QString name = QString::fromUtf8(output.data(), static_cast<qsizetype>(output.size()));
        if (name.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
            if (!pdf_folder_usable()) return;
            printer_->setOutputFormat(QPrinter::PdfFormat);
            printer_->setOutputFileName(name);
            printer_->setPageSize(QPageSize(QPageSize::A4));
        } else {
            if (!printer_known(name)) return;
            printer_->setOutputFormat(QPrinter::NativeFormat);
            if (!name.isEmpty()) printer_->setPrinterName(name);
        }
        printer_->setPageOrientation(QPageLayout::Landscape);
        printer_->setPageMargins(QMarginsF(kMarginMillimetres, kMarginMillimetres, kMarginMillimetres,
                                           kMarginMillimetres),
                                 QPageLayout::Millimeter);
        if (!printer_->isValid()) {
            std::fprintf(stderr, "TOLVA_CF: the printer \"%s\" cannot be used\n", output_.c_str());
            platform::set_last_error(platform::kErrorFileNotFound);
            return;
        }
        set_metrics();
        ready_ = true;
    }

    bool ready() const { return ready_; }
    TolvaPrintTarget* target() { return &target_; }

  private:
    // The PDF's folder must exist and take a new file, or the job would fail only at its
    // first page with no reason given.
    bool pdf_folder_usable() const {
        std::error_code ec;
        std::filesystem::path folder = std::filesystem::path(output_).parent_path();
        if (folder.empty()) folder = ".";
        if (!std::filesystem::is_directory(folder, ec)) {
            std::fprintf(stderr, "TOLVA_CF: cannot print to %s: the folder %s does not exist\n", output_.c_str(),
                         folder.c_str());
            platform::set_last_error(platform::kErrorPathNotFound);
            return false;
        }
        if (!platform::file_access_allowed(folder, platform::kAccessWrite | platform::kAccessExecute)) {
            std::fprintf(stderr, "TOLVA_CF: cannot print to %s: the folder %s takes no new file (no write access)\n",
                         output_.c_str(), folder.c_str());
            platform::set_last_error(platform::kErrorAccessDenied);
            return false;
        }
        return true;
    }

    // A printer of that name (or a default printer for "") that the print system knows.
    bool printer_known(const QString& name) const {
        const QStringList known = QPrinterInfo::availablePrinterNames();
        const bool found = name.isEmpty() ? !QPrinterInfo::defaultPrinterName().isEmpty() : known.contains(name);
        if (found) return true;
        const std::string list = known.isEmpty() ? std::string("none") : known.join(QStringLiteral(", ")).toStdString();
        if (name.isEmpty())
            std::fprintf(stderr, "TOLVA_CF: no default printer is set (printers known: %s)\n", list.c_str());
        else
            std::fprintf(stderr, "TOLVA_CF: no printer \"%s\" (printers known: %s; a name ending in .pdf prints to "
                                 "that file)\n", output_.c_str(), list.c_str());
        platform::set_last_error(platform::kErrorFileNotFound);
        return false;
    }

    void set_metrics() {
        const int resolution = printer_->resolution();
        const QPageLayout layout = printer_->pageLayout();
        const QRect paper = layout.fullRectPixels(resolution);
        const QRect printable = layout.paintRectPixels(resolution);
        target_.offset_x = printable.left() - paper.left();
        target_.offset_y = printable.top() - paper.top();
        target_.page_height = paper.height();

        // Lines start at twice the left offset inside the printable area.
        const double width = printable.width() - 2.0 * target_.offset_x;
        font_ = QFont(QStringLiteral("DejaVu Sans Mono"));
        font_.setStyleHint(QFont::TypeWriter);
        font_.setFixedPitch(true);
        int pixels = std::max(1, static_cast<int>(width / kPrintColumns / 0.6));
        const QString line(kPrintColumns, QLatin1Char('M'));
        for (; pixels > 1; --pixels) {
            font_.setPixelSize(pixels);
            if (QFontMetricsF(font_, printer_.get()).horizontalAdvance(line) <= width) break;
        }
        font_.setPixelSize(pixels);
        const QFontMetricsF metrics(font_, printer_.get());
        ascent_ = static_cast<int>(std::lround(metrics.ascent()));
        target_.char_height = static_cast<int>(std::ceil(metrics.lineSpacing()));
    }

    static QtPrintTarget& self(void* context) { return *static_cast<QtPrintTarget*>(context); }

    static int start_page(void* context) {
        QtPrintTarget& t = self(context);
        if (!t.begun_) {
            if (!t.painter_.begin(t.printer_.get())) {
                std::fprintf(stderr, "TOLVA_CF: the print job on %s could not be started\n", t.output_.c_str());
                return platform::fail(platform::kErrorAccessDenied);
            }
            t.painter_.setFont(t.font_);
            t.begun_ = true;
            return 0;
        }
        return t.printer_->newPage() ? 0 : -1;
    }

    static int end_page(void*) { return 0; }  // a page ends when the next begins or the job ends

    static void draw_text(void* context, int x, int y, const char* text, int length) {
        QtPrintTarget& t = self(context);
        if (!t.begun_ || text == nullptr || length <= 0) return;
        // Record texts are Windows-1252: the euro sign and the quotes sit in 0x80..0x9F.
        const std::u16string wide =
            platform::utf16_from_windows_1252({text, static_cast<std::size_t>(length)});
        t.painter_.drawText(x, y + t.ascent_, QString::fromStdU16String(wide));
    }

    static int release(TolvaPrintTarget* target) {
        if (target == nullptr) return 0;
        std::unique_ptr<QtPrintTarget> owned(static_cast<QtPrintTarget*>(target->context));
        if (owned->begun_ && !owned->painter_.end()) return platform::fail(platform::kErrorAccessDenied);
        return 0;
    }

    GuiApplicationScope application_;
    std::string output_;
    std::unique_ptr<QPrinter> printer_;
    QPainter painter_;
    QFont font_;
    TolvaPrintTarget target_{};
    int ascent_ = 0;
    bool begun_ = false;
    bool ready_ = false;
};

}  // namespace

TolvaPrintTarget* open_qt_print_target(std::string_view output) {
    auto printer = std::make_unique<QtPrintTarget>(output);
    if (!printer->ready()) return nullptr;  // the reason is printed and in errno
    return printer.release()->target();
}

WaitCursorScope::WaitCursorScope() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return;
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    set_ = true;
}

WaitCursorScope::~WaitCursorScope() {
    if (set_) QGuiApplication::restoreOverrideCursor();
}

}  // namespace tolva::cf
