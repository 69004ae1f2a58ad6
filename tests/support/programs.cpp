#include "support/programs.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

namespace vmx::test {

SimProcess::~SimProcess() {
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        process_.waitForFinished(5000);
    }
}

bool SimProcess::start(const QStringList& arguments) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral(VMX_SIM_PROGRAM), arguments);
    const QDeadlineTimer deadline(10000);
    while (!process_.canReadLine()) {
        if (deadline.hasExpired() || process_.state() == QProcess::NotRunning ||
            !process_.waitForReadyRead(int(deadline.remainingTime())))
            break;
    }
    if (!process_.canReadLine())
        return false;
    const QByteArray line = process_.readLine();
    log_ += line;
    readyLine_ = QString::fromUtf8(line).trimmed();
    return readyLine_.startsWith(u"serial: ") || readyLine_.startsWith(u"udp: listening");
}

quint16 SimProcess::udpPort() const {
    static const QRegularExpression port(QStringLiteral("127\\.0\\.0\\.1:(\\d+),"));
    return quint16(port.match(readyLine_).captured(1).toUInt());
}

QByteArray SimProcess::log() {
    process_.waitForReadyRead(50);
    log_ += process_.readAll();
    return log_;
}

QStringList outputLines(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes);
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

ProgramRun runProgram(const QString& program, const QStringList& arguments, int timeoutMs) {
    QProcess process;
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = outputLines(process.readAllStandardOutput());
    run.err = outputLines(process.readAllStandardError());
    return run;
}

} // namespace vmx::test
