#include "trend/axis_ticks.h"

#include <QDateTime>

#include <array>
#include <cmath>

namespace vmx::trend {

namespace {

qint64 floorDiv(qint64 a, qint64 b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

QString twoDigits(qint64 n) {
    return QString::number(n).rightJustified(2, u'0');
}

} // namespace

ValueTicks valueTicks(double low, double high, int maxTicks) {
    ValueTicks ticks;
    if (!(high > low) || maxTicks < 2 || !std::isfinite(high - low))
        return ticks;
    const double rough = (high - low) / double(maxTicks - 1);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power * 10;
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= rough) {
            step = factor * power;
            break;
        }
    }
    ticks.step = step;
    const double first = std::ceil(low / step);
    for (double n = first; n * step <= high + step * 1e-9 && ticks.values.size() < 1000; n += 1)
        ticks.values.push_back(std::abs(n) < 0.5 ? 0.0 : n * step);
    return ticks;
}

QString valueTickLabel(double value, double step) {
    const int decimals = step >= 1 ? 0 : std::min(15, int(std::ceil(-std::log10(step) - 1e-9)));
    return QString::number(value, 'f', decimals);
}

QString offsetText(int offsetSeconds) {
    if (offsetSeconds == 0)
        return QStringLiteral("UTC");
    const int minutes = std::abs(offsetSeconds) / 60;
    return QStringLiteral("UTC%1%2:%3")
        .arg(QChar(offsetSeconds < 0 ? u'-' : u'+'))
        .arg(twoDigits(minutes / 60), twoDigits(minutes % 60));
}

QString timeText(qint64 timeMs, int offsetSeconds) {
    return QDateTime::fromMSecsSinceEpoch(timeMs, Qt::OffsetFromUTC, offsetSeconds)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

std::vector<TimeTick> timeTicks(qint64 fromMs, qint64 toMs, int offsetSeconds, int maxTicks) {
    static constexpr std::array<qint64, 27> kSteps{
        1,      2,      5,       10,      20,      50,       100,      200,      500,
        1000,   2000,   5000,    10000,   15000,   30000,    60000,    120000,   300000,
        600000, 900000, 1800000, 3600000, 7200000, 10800000, 21600000, 43200000, 86400000};
    std::vector<TimeTick> ticks;
    if (toMs <= fromMs || maxTicks < 1)
        return ticks;
    const qint64 span = toMs - fromMs;
    qint64 step = 0;
    for (const qint64 candidate : kSteps) {
        if (span / candidate < maxTicks) {
            step = candidate;
            break;
        }
    }
    if (step == 0) // longer than maxTicks days: whole days, as many as it takes
        step = kSteps.back() * ((span / kSteps.back()) / maxTicks + 1);
    const qint64 offsetMs = qint64(offsetSeconds) * 1000;
    // Round in local time, so that ticks fall on the hours and minutes of the records' clock.
    for (qint64 local = floorDiv(fromMs + offsetMs + step - 1, step) * step;
         local - offsetMs <= toMs; local += step) {
        const qint64 dayMs = local - floorDiv(local, 86400000) * 86400000;
        const qint64 h = dayMs / 3600000, m = dayMs / 60000 % 60, s = dayMs / 1000 % 60,
                     ms = dayMs % 1000;
        QString label;
        if (step >= 86400000) {
            label = QDateTime::fromMSecsSinceEpoch(local, Qt::UTC).toString(u"yyyy-MM-dd");
        } else {
            label = twoDigits(h) + u':' + twoDigits(m);
            if (step < 60000)
                label += u':' + twoDigits(s);
            if (step < 1000)
                label += u'.' + QString::number(ms).rightJustified(3, u'0');
        }
        ticks.push_back({local - offsetMs, label});
    }
    return ticks;
}

} // namespace vmx::trend
