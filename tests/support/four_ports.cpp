#include "support/four_ports.h"

#include <QFile>

namespace vmx::test {

FourPorts::FourPorts() {
    if (!dir_.isValid())
        return;
    for (int n = 1; n <= 4; ++n) {
        ptys_[size_t(n - 1)] = std::make_unique<PtyPair>();
        if (!pty(n).isValid() || !pty(n).linkAs(n))
            return;
    }
    valid_ = true;
}

bool FourPorts::unplug(int portNumber) const {
    const QString link = QStringLiteral("COM%1").arg(portNumber);
    QFile::remove(link);
    return QFile::link(dir_.filePath(QStringLiteral("gone/ttyVMX%1").arg(portNumber)), link);
}

bool FourPorts::othersSilent(int except) const {
    for (int n = 1; n <= 4; ++n) {
        if (n != except && !pty(n).drainMaster(10).isEmpty())
            return false;
    }
    return true;
}

} // namespace vmx::test
