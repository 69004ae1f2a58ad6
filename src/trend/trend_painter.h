#pragma once

#include "trend/axis_ticks.h"
#include "trend/thinning.h"
#include "trend/trend_model.h"

#include <QColor>
#include <QFont>
#include <QRect>

#include <vector>

class QPainter;

namespace vmx::trend {

// Where everything goes on a picture of the trend, and the scales between pixels and readings.
// Made once per picture by layoutTrend, then painted; the live view also reads the pointer's
// time and value through it.
struct TrendFrame {
    QRect area;      // the whole picture
    QRect plot;      // the curves
    QRect markStrip; // below the plot: the answers that are no readings
    QRect legend;    // right of the plot
    qint64 fromMs = 0;
    qint64 toMs = 1;
    double low = 0;
    double high = 1;
    int offsetSeconds = 0;
    ValueTicks ticks;
    std::vector<std::vector<ColumnSpan>> spans; // per series, one per pixel column at most

    double xOf(qint64 timeMs) const;
    double yOf(double value) const;
    qint64 timeAt(double x) const;
    double valueAt(double y) const;
};

// The time window of every record read, with a little room when they share one instant.
void wholeTimeSpan(const TrendModel& model, qint64& fromMs, qint64& toMs);

// Lays the picture out on `area` for the records between fromMs and toMs, with the value axis
// scaled to the readings in view.
TrendFrame layoutTrend(const QRect& area, const QFont& font, const TrendModel& model, qint64 fromMs,
                       qint64 toMs);

// Paints axes, ticks, curves, marks and the legend (the last reading of each series and the count
// of skipped lines) on any paint device: a widget, an image, an SVG file.
void paintTrend(QPainter& painter, const TrendFrame& frame, const TrendModel& model);

// The colour of the series at this index.
QColor seriesColor(std::size_t index);

} // namespace vmx::trend
