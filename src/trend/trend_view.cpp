#include "trend/trend_view.h"

#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace vmx::trend {

TrendView::TrendView(const TrendModel& model, qint64 followSpanMs, QWidget* parent)
    : QWidget(parent), model_(model), followSpanMs_(std::max<qint64>(1000, followSpanMs)) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(320, 200);
    setAccessibleName(QStringLiteral("Trend"));
    setAccessibleDescription(
        QStringLiteral("Readings over time. Space pauses, the arrow keys pan, plus and minus "
                       "zoom, Home shows everything, End follows the newest records."));
}

qint64 TrendView::fromMs() const {
    if (paused_)
        return fixedFrom_;
    return toMs() - followSpanMs_;
}

qint64 TrendView::toMs() const {
    if (paused_)
        return fixedTo_;
    return model_.empty() ? 0 : model_.lastTimeMs();
}

void TrendView::recordsAdded() {
    if (!paused_)
        update();
    else if (!model_.empty() && model_.lastTimeMs() >= fixedFrom_ &&
             model_.lastTimeMs() <= fixedTo_)
        update(); // the new records are in view
}

void TrendView::fix(qint64 fromMs, qint64 toMs) {
    // From 10 ms to a hundred years across, and no further than that from the epoch: zooming
    // and panning on and on stays far from overflowing the milliseconds.
    constexpr qint64 kLongest = 100LL * 366 * 24 * 3600 * 1000;
    const qint64 span = std::clamp<qint64>(toMs - fromMs, 10, kLongest);
    const bool was = paused_;
    fixedFrom_ = std::clamp<qint64>(fromMs, -kLongest * 10, kLongest * 10);
    fixedTo_ = fixedFrom_ + span;
    paused_ = true;
    if (!was)
        emit pausedChanged(true);
    update();
    updatePointer();
}

void TrendView::setPaused(bool paused) {
    if (paused == paused_)
        return;
    if (paused) {
        fix(fromMs(), toMs());
        return;
    }
    followNewest();
}

void TrendView::followNewest() {
    if (paused_)
        followSpanMs_ = std::max<qint64>(1000, fixedTo_ - fixedFrom_);
    const bool was = paused_;
    paused_ = false;
    if (was)
        emit pausedChanged(false);
    update();
    updatePointer();
}

void TrendView::showAll() {
    if (model_.empty())
        return;
    qint64 from = 0, to = 0;
    wholeTimeSpan(model_, from, to);
    fix(from, to);
}

void TrendView::zoom(double factor, std::optional<qint64> aroundMs) {
    const qint64 from = fromMs(), to = toMs();
    const qint64 around = aroundMs.value_or(from + (to - from) / 2);
    fix(around - qint64(double(around - from) * factor),
        around + qint64(double(to - around) * factor));
}

void TrendView::pan(double share) {
    const qint64 from = fromMs(), to = toMs();
    const qint64 by = qint64(double(to - from) * share);
    fix(from + by, to + by);
}

void TrendView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (model_.empty()) {
        painter.fillRect(rect(), Qt::white);
        painter.drawText(
            rect(), Qt::AlignCenter,
            model_.skipped()
                ? QStringLiteral("No records yet; %1 lines skipped").arg(model_.skipped())
                : QStringLiteral("Waiting for records"));
        return;
    }
    frame_ = layoutTrend(rect(), font(), model_, fromMs(), toMs());
    paintTrend(painter, frame_, model_);
    if (pointer_ && frame_.plot.contains(pointer_->toPoint())) {
        if (const auto nearest = nearestTo(*pointer_)) {
            const QPointF at(frame_.xOf(nearest->point.timeMs), frame_.yOf(nearest->point.value));
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(seriesColor(nearest->series), 2));
            painter.drawEllipse(at, 4, 4);
        }
    }
}

std::optional<TrendView::Nearest> TrendView::nearestTo(QPointF position) const {
    std::optional<Nearest> best;
    if (!painted())
        return best;
    double bestDistance = 0;
    const qint64 time = frame_.timeAt(position.x());
    const auto& series = model_.series();
    for (std::size_t i = 0; i < series.size(); ++i) {
        const auto& points = series[i]->points;
        auto after = std::lower_bound(points.begin(), points.end(), time,
                                      [](const TrendPoint& p, qint64 t) { return p.timeMs < t; });
        for (auto p : {after, after == points.begin() ? points.end() : after - 1}) {
            if (p == points.end())
                continue;
            const double dx = frame_.xOf(p->timeMs) - position.x();
            const double dy = frame_.yOf(p->value) - position.y();
            const double distance = dx * dx + dy * dy;
            if (!best || distance < bestDistance) {
                best = Nearest{i, *p};
                bestDistance = distance;
            }
        }
    }
    // Only a reading near the pointer counts: 40 pixels at most.
    if (best && bestDistance > 40.0 * 40.0)
        return std::nullopt;
    return best;
}

void TrendView::updatePointer() {
    if (!pointer_ || model_.empty()) {
        emit pointerText(QString());
        return;
    }
    const auto nearest = nearestTo(*pointer_);
    if (!nearest) {
        emit pointerText(QString());
        return;
    }
    const TrendSeries& s = *model_.series()[nearest->series];
    emit pointerText(
        QStringLiteral("%1: %2 at %3 (%4)")
            .arg(s.label(),
                 QString::number(nearest->point.value, 'g', QLocale::FloatingPointShortest),
                 timeText(nearest->point.timeMs, s.lastOffsetSeconds),
                 offsetText(s.lastOffsetSeconds)));
}

void TrendView::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0 || model_.empty() || !painted())
        return;
    zoom(std::pow(0.8, steps), frame_.timeAt(event->position().x()));
}

void TrendView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !model_.empty()) {
        dragFrom_ = event->position();
        dragFromMs_ = fromMs();
    }
}

void TrendView::mouseMoveEvent(QMouseEvent* event) {
    pointer_ = event->position();
    if (dragFrom_ && painted()) {
        const qint64 span = toMs() - fromMs();
        const qint64 by =
            qint64((dragFrom_->x() - event->position().x()) * double(span) / frame_.plot.width());
        fix(dragFromMs_ + by, dragFromMs_ + by + span);
        return;
    }
    update();
    updatePointer();
}

void TrendView::mouseReleaseEvent(QMouseEvent*) {
    dragFrom_.reset();
}

void TrendView::leaveEvent(QEvent*) {
    pointer_.reset();
    update();
    emit pointerText(QString());
}

void TrendView::keyPressEvent(QKeyEvent* event) {
    if (model_.empty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Space:
        setPaused(!paused_);
        break;
    case Qt::Key_Left:
        pan(-0.1);
        break;
    case Qt::Key_Right:
        pan(0.1);
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(0.5);
        break;
    case Qt::Key_Minus:
        zoom(2.0);
        break;
    case Qt::Key_Home:
        showAll();
        break;
    case Qt::Key_End:
        followNewest();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace vmx::trend
