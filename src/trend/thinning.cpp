#include "trend/thinning.h"

#include <algorithm>

namespace vmx::trend {

int columnOf(qint64 timeMs, qint64 fromMs, qint64 toMs, int columns) {
    if (timeMs < fromMs)
        return -1;
    if (timeMs > toMs || toMs <= fromMs)
        return columns;
    // In double: the product of a span of years in milliseconds and a column count would
    // overflow 64 bits.
    const double share = double(timeMs - fromMs) / double(toMs - fromMs);
    return std::min(columns - 1, int(share * columns));
}

std::vector<ColumnSpan> thinToColumns(const std::vector<TrendPoint>& points,
                                      const std::vector<TrendMark>& marks, qint64 fromMs,
                                      qint64 toMs, int columns) {
    std::vector<ColumnSpan> spans;
    if (points.empty() || columns <= 0 || toMs <= fromMs)
        return spans;
    auto byTime = [](const TrendPoint& p, qint64 t) { return p.timeMs < t; };
    auto begin = std::lower_bound(points.begin(), points.end(), fromMs, byTime);
    auto end = std::lower_bound(begin, points.end(), toMs + 1, byTime);
    // One reading beyond each edge, so the line runs to the edge of the plot.
    if (begin != points.begin())
        --begin;
    if (end != points.end())
        ++end;
    spans.reserve(std::size_t(std::min<std::ptrdiff_t>(end - begin, columns + 2)));

    auto markAfter = std::lower_bound(marks.begin(), marks.end(), begin->timeMs,
                                      [](const TrendMark& m, qint64 t) { return m.timeMs < t; });
    qint64 previousTime = begin->timeMs;
    bool first = true;
    for (auto p = begin; p != end; ++p) {
        // A mark between the previous reading and this one breaks the line.
        bool broken = false;
        while (markAfter != marks.end() && markAfter->timeMs <= p->timeMs) {
            broken = broken || markAfter->timeMs >= previousTime;
            ++markAfter;
        }
        previousTime = p->timeMs;
        const int column = columnOf(p->timeMs, fromMs, toMs, columns);
        if (!first && spans.back().column == column) {
            ColumnSpan& span = spans.back();
            span.low = std::min(span.low, p->value);
            span.high = std::max(span.high, p->value);
            if (broken) {
                // A gap inside one column: the column shows both sides; the join is lost only
                // below a pixel's width.
                span.joined = false;
            }
            span.last = p->value;
            continue;
        }
        spans.push_back({column, p->value, p->value, p->value, p->value, !first && !broken});
        first = false;
    }
    return spans;
}

} // namespace vmx::trend
