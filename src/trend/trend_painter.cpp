#include "trend/trend_painter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace vmx::trend {

namespace {

constexpr int kGap = 6;
constexpr int kMarkRow = 8; // height of each series' row of marks

QString markSummary(const TrendSeries& s) {
    if (s.marks.empty())
        return {};
    return QStringLiteral("%1 answers without reading").arg(s.marks.size());
}

} // namespace

QColor seriesColor(std::size_t index) {
    // Told apart by people with the common colour vision deficiencies (Okabe and Ito's set).
    static constexpr std::array<QRgb, 8> kColors{0xff0072b2, 0xffd55e00, 0xff009e73, 0xffcc79a7,
                                                 0xffe69f00, 0xff56b4e9, 0xff000000, 0xfff0e442};
    return QColor::fromRgb(kColors[index % kColors.size()]);
}

double TrendFrame::xOf(qint64 timeMs) const {
    return plot.left() + double(timeMs - fromMs) * plot.width() / double(toMs - fromMs);
}

// Halves first: the difference of two readings near the ends of the double range would overflow.
double TrendFrame::yOf(double value) const {
    return plot.bottom() - (value / 2 - low / 2) / (high / 2 - low / 2) * (plot.height() - 1);
}

qint64 TrendFrame::timeAt(double x) const {
    return fromMs + qint64(std::llround((x - plot.left()) * double(toMs - fromMs) / plot.width()));
}

double TrendFrame::valueAt(double y) const {
    return 2 * (low / 2 + (plot.bottom() - y) / (plot.height() - 1) * (high / 2 - low / 2));
}

void wholeTimeSpan(const TrendModel& model, qint64& fromMs, qint64& toMs) {
    fromMs = model.firstTimeMs();
    toMs = model.lastTimeMs();
    if (toMs - fromMs < 1000) {
        fromMs -= 30000;
        toMs += 30000;
    }
}

TrendFrame layoutTrend(const QRect& area, const QFont& font, const TrendModel& model, qint64 fromMs,
                       qint64 toMs) {
    TrendFrame frame;
    const QFontMetrics metrics(font);
    const int line = metrics.height();
    frame.area = area;
    frame.fromMs = fromMs;
    frame.toMs = std::max(toMs, fromMs + 1);
    frame.offsetSeconds = model.offsetSeconds();

    const int legendWidth = std::clamp(area.width() / 3, 0, 32 * metrics.averageCharWidth() + 24);
    const int left = metrics.horizontalAdvance(QStringLiteral("-00000.000")) + kGap;
    const int rows = int(std::min<std::size_t>(model.series().size(), 5));
    const int strip = kMarkRow * std::max(rows, 1);
    const int bottom = strip + kGap + 2 * line + kGap;
    frame.plot = QRect(area.left() + left, area.top() + line / 2 + kGap,
                       std::max(10, area.width() - left - legendWidth - 2 * kGap),
                       std::max(10, area.height() - bottom - line / 2 - 2 * kGap));
    frame.markStrip = QRect(frame.plot.left(), frame.plot.bottom() + 2, frame.plot.width(), strip);
    frame.legend = QRect(frame.plot.right() + 2 * kGap, frame.plot.top(), legendWidth,
                         area.bottom() - frame.plot.top());

    // Autoscale to the readings in view; the one beyond each edge counts only if nothing is in.
    double low = 0, high = 0;
    bool any = false;
    for (const auto& s : model.series()) {
        frame.spans.push_back(
            thinToColumns(s->points, s->marks, frame.fromMs, frame.toMs, frame.plot.width()));
        for (const ColumnSpan& span : frame.spans.back()) {
            if (span.column < 0 || span.column >= frame.plot.width())
                continue;
            low = any ? std::min(low, span.low) : span.low;
            high = any ? std::max(high, span.high) : span.high;
            any = true;
        }
    }
    if (!any) {
        for (const auto& spans : frame.spans) {
            for (const ColumnSpan& span : spans) {
                low = any ? std::min(low, span.low) : span.low;
                high = any ? std::max(high, span.high) : span.high;
                any = true;
            }
        }
    }
    if (!any) {
        low = 0;
        high = 1;
    }
    // 5 % of room above and below; the sums stay within the double range. Readings too close
    // to tell apart in halves (0 and the smallest double) count as one.
    const double halfRange = high / 2 - low / 2;
    const double pad = halfRange > 0 ? halfRange * 0.1 : std::max(std::abs(low) * 0.05, 0.5);
    const double most = std::numeric_limits<double>::max();
    frame.low = std::max(low - pad, -most);
    frame.high = std::min(high + pad, most);
    frame.ticks = valueTicks(frame.low, frame.high, std::max(2, frame.plot.height() / (2 * line)));
    return frame;
}

void paintTrend(QPainter& painter, const TrendFrame& frame, const TrendModel& model) {
    const QFontMetrics metrics(painter.font());
    const int line = metrics.height();
    const QColor grid(0xe4, 0xe4, 0xe4);
    const QColor axis(0x60, 0x60, 0x60);
    const QColor text(0x20, 0x20, 0x20);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(frame.area, Qt::white);

    // Value axis: grid lines and labels at round values.
    for (const double value : frame.ticks.values) {
        const int y = int(std::lround(frame.yOf(value)));
        painter.setPen(grid);
        painter.drawLine(frame.plot.left(), y, frame.plot.right(), y);
        painter.setPen(text);
        painter.drawText(QRect(frame.area.left(), y - line / 2,
                               frame.plot.left() - kGap - frame.area.left(), line),
                         Qt::AlignRight | Qt::AlignVCenter,
                         valueTickLabel(value, frame.ticks.step));
    }
    // Time axis: round times of day in the records' own offset.
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("00:00:00.000")) + 2 * kGap;
    const auto times = timeTicks(frame.fromMs, frame.toMs, frame.offsetSeconds,
                                 std::max(2, frame.plot.width() / labelWidth));
    const int labelTop = frame.markStrip.bottom() + kGap;
    for (const TimeTick& tick : times) {
        const int x = int(std::lround(frame.xOf(tick.timeMs)));
        if (x < frame.plot.left() || x > frame.plot.right())
            continue;
        painter.setPen(grid);
        painter.drawLine(x, frame.plot.top(), x, frame.plot.bottom());
        painter.setPen(axis);
        painter.drawLine(x, frame.markStrip.bottom(), x, frame.markStrip.bottom() + kGap / 2);
        painter.setPen(text);
        painter.drawText(QRect(x - labelWidth / 2, labelTop, labelWidth, line), Qt::AlignCenter,
                         tick.label);
    }
    painter.drawText(
        QRect(frame.plot.left(), labelTop + line, frame.area.right() - frame.plot.left(), line),
        Qt::AlignLeft,
        QStringLiteral("time of day (%1), from %2")
            .arg(offsetText(frame.offsetSeconds),
                 timeText(frame.fromMs, frame.offsetSeconds).left(19)));
    painter.setPen(axis);
    painter.drawRect(frame.plot.adjusted(0, 0, -1, -1));

    // The curves, one stroke per pixel column, clipped to the plot.
    painter.save();
    painter.setClipRect(frame.plot);
    const auto& series = model.series();
    for (std::size_t i = 0; i < series.size() && i < frame.spans.size(); ++i) {
        QPen pen(seriesColor(i), 1);
        pen.setCosmetic(true);
        if (i >= 8)
            pen.setStyle(Qt::DashLine);
        painter.setPen(pen);
        QPainterPath path;
        const auto& spans = frame.spans[i];
        for (std::size_t k = 0; k < spans.size(); ++k) {
            const ColumnSpan& span = spans[k];
            const double x = frame.plot.left() + span.column + 0.5;
            if (span.joined && k > 0) {
                path.moveTo(frame.plot.left() + spans[k - 1].column + 0.5,
                            frame.yOf(spans[k - 1].last));
                path.lineTo(x, frame.yOf(span.first));
            }
            // A reading with no line to either side is drawn as a small square, so it is seen.
            const bool alone = !span.joined && (k + 1 == spans.size() || !spans[k + 1].joined);
            const double grow = alone ? 1.5 : 0;
            if (alone) {
                path.addRect(QRectF(x - grow, frame.yOf(span.high) - grow, 2 * grow,
                                    frame.yOf(span.low) - frame.yOf(span.high) + 2 * grow));
            } else {
                path.moveTo(x, frame.yOf(span.low));
                path.lineTo(x, frame.yOf(span.high));
            }
        }
        painter.drawPath(path);
    }
    painter.restore();

    // Answers without a reading, on the strip below the plot, one row per series.
    for (std::size_t i = 0; i < series.size(); ++i) {
        const int row = frame.markStrip.top() + int(i % 5) * kMarkRow;
        painter.setPen(QPen(seriesColor(i), 2));
        const auto& marks = series[i]->marks;
        auto mark = std::lower_bound(marks.begin(), marks.end(), frame.fromMs,
                                     [](const TrendMark& m, qint64 t) { return m.timeMs < t; });
        int lastX = -1;
        for (; mark != marks.end() && mark->timeMs <= frame.toMs; ++mark) {
            const int x = int(frame.xOf(mark->timeMs));
            if (x == lastX)
                continue; // one stroke per column is all a pixel can show
            lastX = x;
            painter.drawLine(x, row, x, row + kMarkRow - 2);
        }
    }

    // The legend: each series, its last reading, and the lines skipped.
    painter.setPen(text);
    int y = frame.legend.top();
    painter.drawText(
        QRect(frame.legend.left(), y, frame.legend.width(), line), Qt::AlignLeft,
        QStringLiteral("%1 records, %2 lines skipped").arg(model.records()).arg(model.skipped()));
    y += line + kGap;
    for (std::size_t i = 0; i < series.size(); ++i) {
        if (y + 3 * line > frame.legend.bottom()) {
            painter.drawText(QRect(frame.legend.left(), y, frame.legend.width(), line),
                             Qt::AlignLeft,
                             QStringLiteral("and %1 more series").arg(series.size() - i));
            break;
        }
        const TrendSeries& s = *series[i];
        painter.fillRect(QRect(frame.legend.left(), y + line / 3, 12, line / 3), seriesColor(i));
        const QRect first(frame.legend.left() + 16, y, frame.legend.width() - 16, line);
        painter.drawText(first, Qt::AlignLeft,
                         metrics.elidedText(s.label(), Qt::ElideMiddle, first.width()));
        const QString last =
            QStringLiteral("%1 at %2")
                .arg(s.lastText, timeText(s.lastTimeMs, s.lastOffsetSeconds).mid(11));
        painter.drawText(first.translated(0, line), Qt::AlignLeft,
                         metrics.elidedText(last, Qt::ElideRight, first.width()));
        y += 2 * line;
        if (!s.marks.empty()) {
            painter.drawText(first.translated(0, 2 * line), Qt::AlignLeft,
                             metrics.elidedText(markSummary(s), Qt::ElideRight, first.width()));
            y += line;
        }
        y += kGap;
    }
    painter.restore();
}

} // namespace vmx::trend
