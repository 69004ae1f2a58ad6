#pragma once

#include "trend/trend_model.h"

#include <vector>

namespace vmx::trend {

// The readings of one series that fall into one pixel column: drawn as a vertical stroke from
// the lowest to the highest, joined to the previous column from `first` unless a mark lies
// between them.
struct ColumnSpan {
    int column;
    double low;
    double high;
    double first;
    double last;
    bool joined; // a line from the previous span's last reading to this one's first
};

// The series between fromMs and toMs on `columns` pixel columns: whatever the number of readings,
// at most one span per column (and one on each side beyond the edges, so the line reaches them).
// Every reading's value lies within its column's low..high: peaks are never thinned away.
std::vector<ColumnSpan> thinToColumns(const std::vector<TrendPoint>& points,
                                      const std::vector<TrendMark>& marks, qint64 fromMs,
                                      qint64 toMs, int columns);

// The column of a time, columns across fromMs..toMs; -1 and `columns` stand for beyond the edges.
int columnOf(qint64 timeMs, qint64 fromMs, qint64 toMs, int columns);

} // namespace vmx::trend
