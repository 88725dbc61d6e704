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
#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <new>
#include <string>

#include "TOLVA_CF/dialogs/application_scope.h"
#include "platform/last_error.h"
#include "platform/windows_1252.h"

namespace tolva::cf {

namespace {

constexpr double kMarginMillimetres = 10.0;

class QtPrintTarget {
  public:
    explicit QtPrintTarget(std::string_view output) {
        target_.context = this;
        target_.start_page = &QtPrintTarget::start_page;
        target_.end_page = &QtPrintTarget::end_page;
        target_.draw_text = &QtPrintTarget::draw_text;
        target_.release = &QtPrintTarget::release;
        if (!application_.ready()) return;
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        const QString name = QString::fromUtf8(output.data(), static_cast<qsizetype>(output.size()));
        if (name.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
            printer_->setOutputFormat(QPrinter::PdfFormat);
            printer_->setOutputFileName(name);
            printer_->setPageSize(QPageSize(QPageSize::A4));
        } else {
            printer_->setOutputFormat(QPrinter::NativeFormat);
            if (!name.isEmpty()) printer_->setPrinterName(name);
        }
        printer_->setPageOrientation(QPageLayout::Landscape);
        printer_->setPageMargins(QMarginsF(kMarginMillimetres, kMarginMillimetres, kMarginMillimetres,
                                           kMarginMillimetres),
                                 QPageLayout::Millimeter);
        if (!printer_->isValid()) {
            std::fprintf(stderr, "TOLVA_CF: no printer \"%s\"\n", std::string(output).c_str());
            return;
        }
        set_metrics();
        ready_ = true;
    }

    bool ready() const { return ready_; }
    TolvaPrintTarget* target() { return &target_; }

  private:
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
            if (!t.painter_.begin(t.printer_.get())) return -1;
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
    if (!printer->ready()) {
        platform::set_last_error(platform::kErrorFileNotFound);
        return nullptr;
    }
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
