#include "support/ser2net_server.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>

#include <unistd.h>

namespace vmx::test {

namespace {

// How long ser2net gets to open its ports, and to end after SIGTERM.
constexpr int kStartMs = 10000;
constexpr int kStopMs = 5000;

// A port on 127.0.0.1 that nothing listens on right now: bound, read, released. Another program
// could take it before ser2net does; start() then tries other ports.
quint16 freePort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

} // namespace

QString Ser2netServer::program() {
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
    if (!onPath.isEmpty())
        return onPath;
    // Debian installs it in sbin, which a user's PATH may not hold.
    return QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
}

Ser2netServer::Ser2netServer(const QString& devicePath) : devicePath_(devicePath) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

Ser2netServer::~Ser2netServer() {
    stop();
}

QString Ser2netServer::socketUrl() const {
    return QStringLiteral("socket://127.0.0.1:%1").arg(rawPort_);
}

QString Ser2netServer::rfc2217Url() const {
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(telnetPort_);
}

bool Ser2netServer::start() {
    if (isRunning())
        return true;
    if (rawPort_ != 0)
        return startOnce();
    for (int attempt = 0; attempt < 3; ++attempt) {
        rawPort_ = freePort();
        telnetPort_ = freePort();
        if (rawPort_ != 0 && telnetPort_ != 0 && rawPort_ != telnetPort_ && startOnce())
            return true;
    }
    return false;
}

bool Ser2netServer::startOnce() {
    error_.clear();
    const QString ser2net = program();
    if (ser2net.isEmpty() || !dir_.isValid()) {
        error_ = QStringLiteral("no ser2net program or no scratch folder");
        return false;
    }
    // One connection per accepter (ser2net's default), opened at 9600 8N1 without modem control
    // lines ("local"), as a gateway is usually set up; mDNS off, since nothing here announces.
    const QString connector = QStringLiteral("serialdev,%1,9600n81,local").arg(devicePath_);
    const QString config = QStringLiteral("%YAML 1.1\n"
                                          "---\n"
                                          "connection: &raw\n"
                                          "  accepter: tcp,127.0.0.1,%1\n"
                                          "  connector: %3\n"
                                          "  options:\n"
                                          "    mdns: false\n"
                                          "connection: &rfc2217\n"
                                          "  accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                                          "  connector: %3\n"
                                          "  options:\n"
                                          "    mdns: false\n")
                               .arg(rawPort_)
                               .arg(telnetPort_)
                               .arg(connector);
    const QString configPath = dir_.filePath(QStringLiteral("ser2net.yaml"));
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config.toUtf8()) < 0 ||
        !file.flush()) {
        error_ = QStringLiteral("cannot write %1").arg(configPath);
        return false;
    }
    file.close();

    // -d: foreground, log to standard output; -u: no UUCP lock files for the device.
    process_.start(ser2net,
                   {QStringLiteral("-d"), QStringLiteral("-u"), QStringLiteral("-c"), configPath});
    if (!process_.waitForStarted(kStartMs)) {
        error_ = QStringLiteral("ser2net did not start: %1").arg(process_.errorString());
        return false;
    }
    const QDeadlineTimer deadline(kStartMs);
    while (!listening(rawPort_) || !listening(telnetPort_)) {
        // Waiting for an end that should not come doubles as the pause between looks.
        if (deadline.hasExpired() || process_.waitForFinished(20)) {
            error_ = QStringLiteral("ser2net did not listen on ports %1 and %2: %3")
                         .arg(rawPort_)
                         .arg(telnetPort_)
                         .arg(QString::fromLocal8Bit(output()));
            stop();
            return false;
        }
    }
    return true;
}

void Ser2netServer::stop() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(kStopMs)) {
        process_.kill();
        process_.waitForFinished(kStopMs);
    }
    output_ += process_.readAll();
}

QByteArray Ser2netServer::output() {
    output_ += process_.readAll();
    return output_;
}

// Whether ser2net itself listens on 127.0.0.1:port, read from the kernel's tables rather than
// by connecting: a connection would make ser2net open the device and hold the accepter. The
// listening socket must be one of ser2net's own descriptors, so a port that another program
// took in the meantime is not mistaken for ser2net's.
bool Ser2netServer::listening(quint16 port) const {
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local =
        QByteArray("0100007F:") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    QByteArray inode;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode; 0A: LISTEN
        if (fields.size() > 9 && fields[1] == local && fields[3] == "0A") {
            inode = fields[9];
            break;
        }
    }
    if (inode.isEmpty())
        return false;
    const QString fds = QStringLiteral("/proc/%1/fd").arg(process_.processId());
    const QByteArray socket = "socket:[" + inode + "]";
    for (const QString& fd : QDir(fds).entryList(QDir::Files | QDir::System)) {
        char target[64] = {};
        const QByteArray path = QFile::encodeName(fds + u'/' + fd);
        const ssize_t length = ::readlink(path.constData(), target, sizeof target - 1);
        if (length > 0 && QByteArray(target, length) == socket)
            return true;
    }
    return false;
}

} // namespace vmx::test
