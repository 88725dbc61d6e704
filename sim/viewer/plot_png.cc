// The picture with Qt: a QImage painted by QPainter under a QGuiApplication on the offscreen
// platform, so that no display is needed.
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "viewer/plot_picture.h"

namespace viewer::plot {
namespace {

constexpr int kLeft = 90;
constexpr int kRight = 30;
constexpr int kTop = 44;
constexpr int kAxisLabels = 52;  // below the plot: time labels, dates and the axis name
constexpr int kLegendRow = 22;
constexpr int kLineWidth = 2;

// Qt's notes about the environment (no runtime folder, no display) mean nothing for a
// picture in a file; its errors still reach standard error.
void quiet(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg) return;
    std::fprintf(stderr, "qvr_viewer: %s\n", message.toLocal8Bit().constData());
}

// The application Qt's painting needs, for the length of one picture.
class PaintingApplication {
  public:
    PaintingApplication() {
        qInstallMessageHandler(quiet);
        // A picture needs no display: the offscreen platform renders fonts all the same.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QGuiApplication>(argc_, argv_);
    }

  private:
    static inline int argc_ = 1;
    static inline char name_[] = "qvr_viewer";
    static inline char* argv_[] = {name_, nullptr};
    std::unique_ptr<QGuiApplication> app_;
};

QColor colour(std::size_t k) {
    return QColor::fromRgb(static_cast<QRgb>(0xFF000000u | kPalette[k % kPalette.size()]));
}

// A step of 1, 2 or 5 times a power of ten that cuts `range` into about `parts`.
double nice_step(double range, int parts) {
    const double raw = range / std::max(parts, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * power) return m * power;
    return 10.0 * power;
}

// Seconds between time labels: the first of these that keeps labels `min_gap` pixels apart.
std::int64_t time_step(double seconds_per_pixel, int min_gap) {
    static constexpr std::int64_t kSteps[] = {1,     2,     5,     10,    15,    30,     60,     120,
                                              300,   600,   900,   1800,  3600,  7200,   10800,  21600,
                                              43200, 86400, 172800, 604800, 1209600, 2592000, 7776000, 31536000};
    for (const std::int64_t s : kSteps)
        if (static_cast<double>(s) / seconds_per_pixel >= min_gap) return s;
    return kSteps[std::size(kSteps) - 1];
}

// Offset of the zone from UTC at `seconds`, in seconds (east positive).
std::int64_t zone_offset(std::int64_t seconds, time_text::Zone zone) {
    if (zone == time_text::Zone::kUtc) return 0;
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (::localtime_r(&t, &tm) == nullptr) return 0;
    return tm.tm_gmtoff;
}

QString number_label(double v, double step) {
    const int decimals = step >= 1 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step))));
    return QString::number(v, 'f', decimals);
}

struct Range {
    double low = 0;
    double high = 1;
};

Range value_range(const Picture& p) {
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (const Series& s : p.series)
        for (const double v : s.values)
            if (std::isfinite(v)) {
                low = std::min(low, v);
                high = std::max(high, v);
            }
    if (!std::isfinite(low)) return {0, 1};
    if (low == high) return {low - 1, high + 1};
    const double pad = (high - low) * 0.05;
    return {low - pad, high + pad};
}

// Legend entries laid out in rows across the width: their rows.
int legend_rows(const Picture& p, const QFontMetrics& fm, int width) {
    int rows = p.series.empty() ? 0 : 1;
    int x = 0;
    for (const Series& s : p.series) {
        const int w = 34 + fm.horizontalAdvance(QString::fromStdString(s.label)) + 24;
        if (x > 0 && x + w > width) {
            ++rows;
            x = 0;
        }
        x += w;
    }
    return rows;
}

}  // namespace

bool available() {
    return true;
}

std::string write_png(const std::string& path, const Picture& p) {
    if (p.width < kMinSize || p.height < kMinSize || p.width > kMaxSize || p.height > kMaxSize)
        return "the picture's size must lie between " + std::to_string(kMinSize) + " and " +
               std::to_string(kMaxSize) + " pixels each way";
    if (p.series.size() > kPalette.size())
        return "a picture holds at most " + std::to_string(kPalette.size()) + " channels";
    const PaintingApplication application;

    QImage image(p.width, p.height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font("DejaVu Sans");
    font.setPixelSize(12);
    painter.setFont(font);
    const QFontMetrics fm(font);

    const int legend_height = legend_rows(p, fm, p.width - kLeft - kRight) * kLegendRow + 8;
    const QRect plot(kLeft, kTop, p.width - kLeft - kRight, p.height - kTop - kAxisLabels - legend_height);
    if (plot.width() < 50 || plot.height() < 50) return "the picture is too small for its legend";

    // Title.
    QFont title_font = font;
    title_font.setPixelSize(15);
    title_font.setBold(true);
    painter.setFont(title_font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(kLeft, 8, plot.width(), kTop - 12), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromStdString(p.title));
    painter.setFont(font);

    // Scales.
    const double t0 = p.times.empty() ? 0 : static_cast<double>(p.times.front()) / 1e6;
    double t1 = p.times.empty() ? 1 : static_cast<double>(p.times.back()) / 1e6;
    if (t1 <= t0) t1 = t0 + 1;
    const Range y = value_range(p);
    const auto x_of = [&](double t) { return plot.left() + (t - t0) / (t1 - t0) * plot.width(); };
    const auto y_of = [&](double v) { return plot.bottom() - (v - y.low) / (y.high - y.low) * plot.height(); };

    // Value grid and labels.
    const QPen grid(QColor(225, 225, 225), 1);
    const double vstep = nice_step(y.high - y.low, std::max(2, plot.height() / 60));
    for (double v = std::ceil(y.low / vstep) * vstep; v <= y.high; v += vstep) {
        const int py = static_cast<int>(std::lround(y_of(v)));
        painter.setPen(grid);
        painter.drawLine(plot.left(), py, plot.right(), py);
        painter.setPen(Qt::black);
        painter.drawText(QRect(0, py - 9, kLeft - 8, 18), Qt::AlignRight | Qt::AlignVCenter,
                         number_label(std::abs(v) < vstep / 2 ? 0 : v, vstep));
    }

    // Time grid and labels, on whole steps of the zone's clock; the date under a label where it changes.
    const std::int64_t offset = zone_offset(static_cast<std::int64_t>(t0), p.zone);
    const std::int64_t tstep = time_step((t1 - t0) / plot.width(), 110);
    std::string last_date;
    for (std::int64_t local = (static_cast<std::int64_t>(std::ceil(t0)) + offset + tstep - 1) / tstep * tstep;
         static_cast<double>(local - offset) <= t1; local += tstep) {
        const std::int64_t t = local - offset;
        const int px = static_cast<int>(std::lround(x_of(static_cast<double>(t))));
        painter.setPen(grid);
        painter.drawLine(px, plot.top(), px, plot.bottom());
        const std::string shown = time_text::format(static_cast<std::uint64_t>(t) * 1'000'000u, p.zone);
        painter.setPen(Qt::black);
        painter.drawText(QRect(px - 60, plot.bottom() + 4, 120, 16), Qt::AlignCenter,
                         QString::fromStdString(shown.substr(11, 8)));
        const std::string date = shown.substr(0, 10);
        if (date != last_date) {
            painter.drawText(QRect(px - 60, plot.bottom() + 19, 120, 16), Qt::AlignCenter,
                             QString::fromStdString(date));
            last_date = date;
        }
    }
    const std::string zone_name = time_text::format(static_cast<std::uint64_t>(t0 * 1e6), p.zone).substr(23);
    painter.drawText(QRect(plot.left(), plot.bottom() + 34, plot.width(), 16), Qt::AlignCenter,
                     QString::fromStdString("time (" + std::string(zone_name == "Z" ? "UTC" : "UTC" + zone_name) + ")"));

    // Frame.
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(plot);

    // The lines: not smoothed, so each is drawn in its own colour exactly.
    painter.setClipRect(plot.adjusted(1, 1, 0, 0));
    for (std::size_t k = 0; k < p.series.size(); ++k) {
        const Series& s = p.series[k];
        painter.setPen(QPen(colour(k), kLineWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        QPolygonF line;
        const auto flush = [&] {
            if (line.size() == 1) painter.drawPoint(line.front());
            if (line.size() > 1) painter.drawPolyline(line);
            line.clear();
        };
        for (std::size_t i = 0; i < s.values.size() && i < p.times.size(); ++i) {
            if (!std::isfinite(s.values[i])) {
                flush();
                continue;
            }
            const QPointF point(x_of(static_cast<double>(p.times[i]) / 1e6), y_of(s.values[i]));
            if (s.steps && !line.isEmpty()) line << QPointF(point.x(), line.back().y());
            line << point;
        }
        flush();
    }
    painter.setClipping(false);

    // Legend: a swatch of each line's colour and its label.
    int lx = plot.left();
    int ly = plot.bottom() + kAxisLabels + 4;
    for (std::size_t k = 0; k < p.series.size(); ++k) {
        const QString label = QString::fromStdString(p.series[k].label);
        const int w = 34 + fm.horizontalAdvance(label) + 24;
        if (lx > plot.left() && lx + w > plot.right()) {
            lx = plot.left();
            ly += kLegendRow;
        }
        painter.fillRect(QRect(lx, ly + 6, 26, 6), colour(k));
        painter.setPen(Qt::black);
        painter.drawText(QRect(lx + 34, ly, w - 34, 18), Qt::AlignLeft | Qt::AlignVCenter, label);
        lx += w;
    }
    painter.end();

    QImageWriter writer(QString::fromStdString(path), "png");
    if (!writer.write(image)) return "cannot write " + path + ": " + writer.errorString().toStdString();
    return {};
}

}  // namespace viewer::plot
