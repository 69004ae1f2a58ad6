#include "app/main_form.h"

#include <QApplication>

#include <csignal>

int main(int argc, char* argv[]) {
#ifdef SIGXFSZ
    // A save beyond a file-size limit (ulimit -f) then fails like a full disk and is reported,
    // instead of the signal ending the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
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
