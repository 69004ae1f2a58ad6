#include "cli/broken_pipe.h"

#include <QtGlobal>

#ifndef Q_OS_WIN
#include <csignal>
#endif

namespace vmx {

void ignoreBrokenPipe() {
#ifndef Q_OS_WIN
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
#endif
}

} // namespace vmx
