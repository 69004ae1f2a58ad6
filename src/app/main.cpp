#include "app/program.h"
#include "app/start_arguments.h"

#include <QApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char* argv[]) {
    // Answered before the application object exists: no display is needed, no file is made.
    if (const std::optional<std::string> answer = vmx::startArgumentsAnswer(argc, argv)) {
        std::fputs(answer->c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
#ifdef SIGXFSZ
    // A save beyond a file-size limit (ulimit -f) then fails like a full disk and is reported,
    // instead of the signal ending the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    return vmx::runProgram();
}
