#pragma once

#include "trend/trend_painter.h"

#include <QWidget>

#include <optional>

namespace vmx::trend {

// The live trend: follows the newest minutes until paused, zooms and pans on the time axis with
// the mouse and the keys, and names the reading under the pointer. Painting is paintTrend's.
class TrendView : public QWidget {
    Q_OBJECT
public:
    TrendView(const TrendModel& model, qint64 followSpanMs, QWidget* parent = nullptr);

    // New records are in the model: follow them unless paused.
    void recordsAdded();

    bool paused() const { return paused_; }
    void setPaused(bool paused);
    void followNewest();
    void showAll();
    // factor < 1 zooms in; around the time at the centre unless given.
    void zoom(double factor, std::optional<qint64> aroundMs = std::nullopt);
    // By this share of the visible span; positive goes later.
    void pan(double share);
    qint64 fromMs() const;
    qint64 toMs() const;

signals:
    void pausedChanged(bool paused);
    // The reading nearest the pointer: series, value and time; empty when there is none.
    void pointerText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct Nearest {
        std::size_t series;
        TrendPoint point;
    };
    std::optional<Nearest> nearestTo(QPointF position) const;
    // The frame's scales are known once the trend has been painted.
    bool painted() const { return frame_.plot.width() > 1 && frame_.plot.height() > 1; }
    void fix(qint64 fromMs, qint64 toMs);
    void updatePointer();

    const TrendModel& model_;
    qint64 followSpanMs_;
    bool paused_ = false;
    qint64 fixedFrom_ = 0;
    qint64 fixedTo_ = 0;
    TrendFrame frame_; // as last painted
    std::optional<QPointF> pointer_;
    std::optional<QPointF> dragFrom_;
    qint64 dragFromMs_ = 0;
};

} // namespace vmx::trend
