#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <termios.h>

class QSocketNotifier;

namespace vmx::sim {

// The device's end of a serial line: the master side of a pseudo-terminal pair, with a link in
// the current directory (COM1 or the name given) pointing at the slave side for the tool to
// open. The slave side is held open as well, so the line stays up while the tool opens and
// closes it.
//
// Because the line outlives its clients, so would whatever a client left on it: a client that
// dies without closing its port properly (killed by a signal) leaves its line settings and its
// exclusive-use flag behind, and the next client's open can fail on them (a pseudo-terminal
// cannot take parity, and a line whose settings already match is judged by what it reports
// back). So the line watches its slave side being opened and closed, and whenever the last
// client has gone it puts back its own settings and clears the exclusive use.
class PtyLine : public QObject {
    Q_OBJECT
public:
    explicit PtyLine(QObject* parent = nullptr);
    ~PtyLine() override;
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Opens the pair and makes the link. An existing file of that name is left alone and the
    // open fails, unless it is a link to a terminal that no longer exists (left by a run that was
    // killed), which is replaced.
    bool open(const QString& linkName, QString* error);
    // Removes the link, if it still points at this pair, and closes both sides.
    void close();

    // Writes the bytes to the line without waiting; false when not all of them could be written.
    bool write(QByteArrayView bytes);

    QString slavePath() const { return slavePath_; }
    QString linkPath() const { return linkPath_; }

signals:
    void received(const QByteArray& bytes);
    void failed(const QString& reason);

private:
    void readMaster();
    void watchClients();
    void clientsChanged();
    void restoreLine();

    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    QString linkPath_;
    QSocketNotifier* notifier_ = nullptr;
    int clientWatch_ = -1; // inotify on the slave side: its opens and closes
    QSocketNotifier* clientNotifier_ = nullptr;
    termios lineSettings_{}; // the line's own settings, put back after its clients
    int clientsOpen_ = 0;    // opens of the slave side by others, less their closes
};

} // namespace vmx::sim
