#pragma once

#include "trend/trend_record.h"

#include <QString>

#include <memory>
#include <vector>

namespace vmx::trend {

struct TrendPoint {
    qint64 timeMs;
    double value;
};

// An answer that is no reading (no answer, NAK, ACK, a link error, late bytes, a text payload):
// drawn as a mark on the time axis, and the line of its series breaks there.
struct TrendMark {
    qint64 timeMs;
    Outcome outcome;
};

// One endpoint, address and command.
struct TrendSeries {
    QByteArray portKey, addressKey, commandKey; // as the records have them
    QString port;
    QString address;
    QString command;
    std::vector<TrendPoint> points; // in time order
    std::vector<TrendMark> marks;   // in time order
    qint64 lastTimeMs = 0;
    int lastOffsetSeconds = 0;
    QString lastText; // the last reading as shown, or the last outcome's name
    bool lastIsPoint = false;

    QString label() const;
};

// Every series of the records read so far, and the count of lines skipped. Memory is bounded:
// past kMaxPoints readings in all, the series holding the most is halved, keeping of every four
// neighbouring readings the lowest and the highest, so peaks stay visible; past kMaxMarks every
// other mark of the series holding the most goes; records of series beyond kMaxSeries are
// skipped.
class TrendModel {
public:
    static constexpr std::size_t kMaxPoints = 6'000'000; // 96 MB of readings
    static constexpr std::size_t kMaxMarks = 1'000'000;
    static constexpr std::size_t kMaxSeries = 64;

    // Adds the record to its series; false (and counted as skipped) when its time goes back
    // before the newest one of its series or its series would be one too many.
    bool add(const TrendRecord& record);
    void countSkipped() { ++skipped_; }

    const std::vector<std::unique_ptr<TrendSeries>>& series() const { return series_; }
    qint64 skipped() const { return skipped_; }
    qint64 records() const { return records_; }
    bool empty() const { return records_ == 0; }
    qint64 firstTimeMs() const { return firstTimeMs_; }
    qint64 lastTimeMs() const { return lastTimeMs_; }
    // The offset of the newest record: the time axis is read in it.
    int offsetSeconds() const { return offsetSeconds_; }

private:
    TrendSeries* seriesFor(const TrendRecord& record);
    void compactPoints();
    void compactMarks();

    std::vector<std::unique_ptr<TrendSeries>> series_;
    TrendSeries* lastUsed_ = nullptr;
    std::size_t points_ = 0;
    std::size_t marks_ = 0;
    qint64 skipped_ = 0;
    qint64 records_ = 0;
    qint64 firstTimeMs_ = 0;
    qint64 lastTimeMs_ = 0;
    int offsetSeconds_ = 0;
};

// Keeps of every four neighbouring readings the lowest and the highest, in their time order.
void halvePoints(std::vector<TrendPoint>& points);

} // namespace vmx::trend
