#include "app/program.h"

#include "app/main_form.h"
#include "eventlog/event_log.h"
#include "eventlog/exchange_log.h"

#include <QApplication>

#include <cstdio>

namespace vmx {

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
    if (!form.loadSettings())
        return 1;
    form.show();
    form.focusFirstTabStop();
    return QApplication::exec();
}

} // namespace vmx
