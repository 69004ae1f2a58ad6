#include "support/settings_files.h"

#include <QDir>
#include <QFile>

namespace vmx::test {

QByteArray iniFile(const QByteArray& port, const QByteArray& baud, const QByteArray& address,
                   const QByteArray& command, const QByteArray& ipAddress, const QByteArray& ipPort,
                   const QByteArray& format) {
    return "\"Serial port=\"," + port + "\r\n" + "\"Baud rate=\"," + baud + "\r\n" +
           "\"Address=\"," + address + "\r\n" + "\"Command=\",\"" + command + "\"\r\n" +
           "\"IP Address=\",\"" + ipAddress + "\"\r\n" + "\"IP port=\",\"" + ipPort + "\"\r\n" +
           "\"COM format=\"," + format + "\r\n";
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

} // namespace vmx::test
