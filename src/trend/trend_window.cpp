#include "trend/trend_window.h"

#include "trend/image_export.h"
#include "trend/trend_view.h"

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>

namespace vmx::trend {

TrendWindow::TrendWindow(TrendModel& model, qint64 followSpanMs, QWidget* parent)
    : QMainWindow(parent), model_(model), input_(model),
      view_(new TrendView(model, followSpanMs, this)), pointer_(new QLabel(this)),
      counts_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("Velmarixon trend"));
    setCentralWidget(view_);
    pointer_->setAccessibleName(QStringLiteral("Reading under the pointer"));
    counts_->setAccessibleName(QStringLiteral("Records and skipped lines"));
    statusBar()->addWidget(pointer_, 1);
    statusBar()->addPermanentWidget(counts_);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* save = file->addAction(QStringLiteral("&Save picture…"));
    save->setShortcut(QKeySequence::Save);
    connect(save, &QAction::triggered, this, &TrendWindow::saveImage);
    QAction* quit = file->addAction(QStringLiteral("&Quit"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    pause_ = view->addAction(QStringLiteral("&Pause"));
    pause_->setCheckable(true);
    pause_->setShortcut(Qt::Key_Space);
    connect(pause_, &QAction::toggled, view_, &TrendView::setPaused);
    connect(view_, &TrendView::pausedChanged, pause_, &QAction::setChecked);
    auto add = [&](const QString& text, QKeySequence key, auto slot) {
        QAction* action = view->addAction(text);
        action->setShortcut(key);
        connect(action, &QAction::triggered, view_, slot);
    };
    add(QStringLiteral("&Follow newest"), Qt::Key_End, [this] { view_->followNewest(); });
    add(QStringLiteral("Show &all"), Qt::Key_Home, [this] { view_->showAll(); });
    add(QStringLiteral("Zoom &in"), Qt::Key_Plus, [this] { view_->zoom(0.5); });
    add(QStringLiteral("Zoom &out"), Qt::Key_Minus, [this] { view_->zoom(2.0); });
    add(QStringLiteral("&Earlier"), Qt::Key_Left, [this] { view_->pan(-0.1); });
    add(QStringLiteral("&Later"), Qt::Key_Right, [this] { view_->pan(0.1); });

    connect(view_, &TrendView::pointerText, pointer_, &QLabel::setText);
    view_->setFocus();
    recordsAdded();
    resize(1000, 600);
}

void TrendWindow::feed(const QByteArray& bytes) {
    input_.feed(bytes);
    recordsAdded();
}

void TrendWindow::inputEnded(const QString& error) {
    input_.finish();
    inputState_ = error.isEmpty() ? QStringLiteral(", input ended")
                                  : QStringLiteral(", input failed: %1").arg(error);
    recordsAdded();
}

void TrendWindow::showAll() {
    view_->showAll();
}

void TrendWindow::recordsAdded() {
    counts_->setText(QStringLiteral("%1 records, %2 lines skipped%3")
                         .arg(model_.records())
                         .arg(model_.skipped())
                         .arg(inputState_));
    view_->recordsAdded();
}

void TrendWindow::saveImage() {
    QString selected;
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save picture"), QStringLiteral("trend.png"),
        QStringLiteral("PNG picture (*.png);;SVG picture (*.svg)"), &selected);
    if (path.isEmpty())
        return;
    if (!path.endsWith(u".png", Qt::CaseInsensitive) &&
        !path.endsWith(u".svg", Qt::CaseInsensitive))
        path += selected.contains(u"svg") ? QStringLiteral(".svg") : QStringLiteral(".png");
    const QString error =
        saveTrendImage(path, view_->size(), model_, view_->fromMs(), view_->toMs());
    if (!error.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Save picture"), error);
}

} // namespace vmx::trend
