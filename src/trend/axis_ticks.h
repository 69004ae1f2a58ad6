#pragma once

#include <QString>

#include <vector>

namespace vmx::trend {

struct ValueTicks {
    double step = 1;
    std::vector<double> values;
};

// Ticks at round values (1, 2 or 5 times a power of ten) within low..high, at most maxTicks.
ValueTicks valueTicks(double low, double high, int maxTicks);

// A tick's value with as many decimals as the step needs: "12.5", "-0.25", "1000".
QString valueTickLabel(double value, double step);

struct TimeTick {
    qint64 timeMs;
    QString label;
};

// Ticks at round times of day (a second, 5 s, a minute, a quarter hour, an hour, a day, …) in
// the given offset from UTC, within fromMs..toMs, at most maxTicks. Labels read "16:24",
// "16:24:05" or "16:24:05.250" as the step needs, and the date where the step is days.
std::vector<TimeTick> timeTicks(qint64 fromMs, qint64 toMs, int offsetSeconds, int maxTicks);

// "2026-12-07 16:24:04.348" in the given offset.
QString timeText(qint64 timeMs, int offsetSeconds);

// "UTC+01:00", "UTC-05:30", "UTC".
QString offsetText(int offsetSeconds);

} // namespace vmx::trend
