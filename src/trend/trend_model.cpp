#include "trend/trend_model.h"

#include <algorithm>

namespace vmx::trend {

QString TrendSeries::label() const {
    return QStringLiteral("%1 addr %2 %3").arg(port, address, command);
}

TrendSeries* TrendModel::seriesFor(const TrendRecord& record) {
    // Records of one series usually follow each other: the last one used is tried first.
    auto matches = [&](const TrendSeries& s) {
        return s.port == record.port && s.address == record.address && s.command == record.command;
    };
    if (lastUsed_ && matches(*lastUsed_))
        return lastUsed_;
    for (const auto& s : series_) {
        if (matches(*s))
            return lastUsed_ = s.get();
    }
    if (series_.size() >= kMaxSeries)
        return nullptr;
    auto created = std::make_unique<TrendSeries>();
    created->portKey = record.port;
    created->addressKey = record.address;
    created->commandKey = record.command;
    created->port = QString::fromUtf8(record.port);
    created->address = QString::fromUtf8(record.address);
    created->command = QString::fromUtf8(record.command);
    series_.push_back(std::move(created));
    return lastUsed_ = series_.back().get();
}

bool TrendModel::add(const TrendRecord& record) {
    TrendSeries* s = seriesFor(record);
    const bool goesBack =
        s && (!s->points.empty() || !s->marks.empty()) && record.timeMs < s->lastTimeMs;
    if (!s || goesBack) {
        ++skipped_;
        return false;
    }
    if (record.isPoint) {
        s->points.push_back({record.timeMs, record.value});
        if (++points_ > kMaxPoints)
            compactPoints();
    } else {
        s->marks.push_back({record.timeMs, record.outcome});
        if (++marks_ > kMaxMarks)
            compactMarks();
    }
    s->lastTimeMs = record.timeMs;
    s->lastOffsetSeconds = record.offsetSeconds;
    s->lastIsPoint = record.isPoint;
    s->lastText = record.isPoint || record.outcome == Outcome::Reply ? record.payload
                                                                     : outcomeName(record.outcome);
    if (records_ == 0 || record.timeMs < firstTimeMs_)
        firstTimeMs_ = record.timeMs;
    if (records_ == 0 || record.timeMs > lastTimeMs_) {
        lastTimeMs_ = record.timeMs;
        offsetSeconds_ = record.offsetSeconds;
    }
    ++records_;
    return true;
}

void halvePoints(std::vector<TrendPoint>& points) {
    std::size_t out = 0;
    std::size_t at = 0;
    for (; at + 4 <= points.size(); at += 4) {
        const auto begin = points.begin() + long(at);
        const auto [low, high] =
            std::minmax_element(begin, begin + 4, [](const TrendPoint& a, const TrendPoint& b) {
                return a.value < b.value;
            });
        const TrendPoint first = low < high ? *low : *high;
        const TrendPoint second = low < high ? *high : *low;
        points[out++] = first;
        if (low != high)
            points[out++] = second;
    }
    for (; at < points.size(); ++at)
        points[out++] = points[at];
    points.resize(out);
    points.shrink_to_fit();
}

void TrendModel::compactPoints() {
    auto largest =
        std::max_element(series_.begin(), series_.end(), [](const auto& a, const auto& b) {
            return a->points.size() < b->points.size();
        });
    const std::size_t before = (*largest)->points.size();
    halvePoints((*largest)->points);
    points_ -= before - (*largest)->points.size();
}

void TrendModel::compactMarks() {
    auto largest =
        std::max_element(series_.begin(), series_.end(), [](const auto& a, const auto& b) {
            return a->marks.size() < b->marks.size();
        });
    std::vector<TrendMark>& marks = (*largest)->marks;
    const std::size_t before = marks.size();
    // Every other one: a run of answers without reading still shows as a run.
    std::size_t out = 0;
    for (std::size_t at = 0; at < before; at += 2)
        marks[out++] = marks[at];
    marks.resize(out);
    marks.shrink_to_fit();
    marks_ -= before - out;
}

} // namespace vmx::trend
