#pragma once

#include "trend/record_input.h"
#include "trend/trend_model.h"

#include <QMainWindow>

class QAction;
class QLabel;

namespace vmx::trend {

class TrendView;

// The window around the live view: its menu (save as PNG or SVG, pause, follow, show all), and
// a status line with the reading under the pointer and the counts of records and skipped lines.
class TrendWindow : public QMainWindow {
    Q_OBJECT
public:
    TrendWindow(TrendModel& model, qint64 followSpanMs, QWidget* parent = nullptr);

    // Bytes of records arrived on standard input; the end of it.
    void feed(const QByteArray& bytes);
    void inputEnded(const QString& error);
    // After files were read: show them all rather than follow.
    void showAll();

private:
    void recordsAdded();
    void saveImage();

    TrendModel& model_;
    RecordInput input_;
    TrendView* view_;
    QLabel* pointer_;
    QLabel* counts_;
    QAction* pause_;
    QString inputState_;
};

} // namespace vmx::trend
