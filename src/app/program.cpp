#include "app/program.h"

#include "app/main_form.h"

#include <QApplication>

namespace vmx {

int runProgram() {
    QApplication::setApplicationName(kApplicationTitle);
    // The about box may still be open when the main window goes; the main window alone decides
    // when the program ends.
    QApplication::setQuitOnLastWindowClosed(false);

    MainForm form;
    if (!form.loadSettings())
        return 1;
    form.show();
    form.focusFirstTabStop();
    return QApplication::exec();
}

} // namespace vmx
