#include "app/main_form.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(vmx::kApplicationTitle);
    // The about box may still be open when the main window goes; the main window alone decides
    // when the program ends.
    QApplication::setQuitOnLastWindowClosed(false);

    vmx::MainForm form;
    if (!form.loadSettings())
        return 1;
    form.show();
    form.focusFirstTabStop();
    return QApplication::exec();
}
