#include "app/program.h"

#include "app/main_form.h"
#include "eventlog/event_log.h"
#include "eventlog/exchange_log.h"
#include "settings/settings_file.h"

#include <QApplication>
#include <QTimer>

#include <functional>

#include <cstdio>

namespace vmx {

namespace {

// Runs `work` once, in the turn of the event loop after the first paint of any window: what the
// window need not wait for.
class AfterFirstPaint : public QObject {
public:
    explicit AfterFirstPaint(std::function<void()> work) : work_(std::move(work)) {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && work_) {
            QCoreApplication::instance()->removeEventFilter(this);
            QTimer::singleShot(0, this, std::exchange(work_, {}));
        }
        return false;
    }

private:
    std::function<void()> work_;
};

// The settings file a first start made is forced to the disk, and temporary files of a save
// that was killed half way are removed: both after the window is on the screen.
void settleSettingsFile() {
    forceDeferredWrites();
    removeLeftoverTemporaries(QString::fromLatin1(kSettingsFileName));
}

} // namespace

int runProgram() {
    QApplication::setApplicationName(kApplicationTitle);
    // The about box may still be open when the main window goes; the main window alone decides
    // when the program ends.
    QApplication::setQuitOnLastWindowClosed(false);

    // --log FILE: the commissioning record, beside the window; it changes nothing shown or saved.
    EventLog log;
    MainForm form;
    if (const QString path = logPathArgument(QApplication::arguments()); !path.isEmpty()) {
        if (log.open(path, [](const QString& text) {
                std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
            }))
            logExchange(form.exchange(), log);
    }
    // A first start's file is created, written and checked before the window shows, as a file
    // that cannot be created ends the program; only forcing it to the disk waits.
    deferForcingNewFiles();
    if (!form.loadSettings())
        return 1;
    const AfterFirstPaint settle(settleSettingsFile);
    form.show();
    form.focusFirstTabStop();
    const int status = QApplication::exec();
    // A window that was never painted still leaves its files settled.
    forceDeferredWrites();
    return status;
}

} // namespace vmx
