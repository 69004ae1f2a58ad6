#include "app/ways_out.h"

#include <QApplication>
#include <QWidget>

namespace vmx {

void endProgramNow() {
    // Hide every window now; the event loop returns before it handles anything else, so an
    // armed watchdog or a queued receive event never runs again.
    for (QWidget* window : QApplication::topLevelWidgets())
        window->hide();
    QCoreApplication::exit(0);
}

} // namespace vmx
