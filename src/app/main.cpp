#include "app/program.h"

#include <QApplication>

#include <csignal>

int main(int argc, char* argv[]) {
#ifdef SIGXFSZ
    // A save beyond a file-size limit (ulimit -f) then fails like a full disk and is reported,
    // instead of the signal ending the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    return vmx::runProgram();
}
