// A save killed half way (kill -9 while the settings file is written) leaves the old file, and
// after the next start of the program nothing else beside it.
#include "settings/settings_file.h"
#include "support/scratch_dir.h"
#include "support/settings_files.h"

#include <QDir>
#include <QProcess>
#include <QTest>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

using vmx::test::entries;
using vmx::test::kIniName;
using vmx::test::readFile;
using vmx::test::writeFile;

namespace {

// A save in a child process, stopped half way through its write.
class StoppedSave {
public:
    explicit StoppedSave(const char* temporary) {
        process_.start(QStringLiteral(SETTINGS_SAVE_CHILD), {QLatin1String(temporary)});
        stopped_ = process_.waitForReadyRead(20000) && process_.readLine() == "half\n";
    }
    ~StoppedSave() {
        process_.kill();
        process_.waitForFinished();
    }
    bool stopped() const { return stopped_; }
    void kill() {
        process_.kill();
        process_.waitForFinished();
    }
    // Its standard input closes, so it finishes the write.
    bool finish() {
        process_.closeWriteChannel();
        return process_.waitForFinished(20000) && process_.exitStatus() == QProcess::NormalExit &&
               process_.exitCode() == 0;
    }

private:
    QProcess process_;
    bool stopped_ = false;
};

QStringList newEntries(const QStringList& before) {
    QStringList added;
    for (const QString& name : entries(QDir::currentPath()))
        if (!before.contains(name))
            added << name;
    return added;
}

// Starts the program in the current folder and waits until it removes an entry of the folder
// (or ends); then ends it.
bool programRemovedAnEntry() {
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, ".", IN_DELETE) < 0)
        return false;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VELMARIXON_PROGRAM), {});
    bool removed = false;
    QDeadlineTimer deadline(20000);
    while (!removed && !deadline.hasExpired() && program.state() != QProcess::NotRunning) {
        pollfd ready{watch, POLLIN, 0};
        removed = ::poll(&ready, 1, 50) > 0;
    }
    ::close(watch);
    program.kill();
    program.waitForFinished();
    return removed;
}

} // namespace

class TestInterruptedSave : public QObject {
    Q_OBJECT
private slots:
    void init() {
        scratch_.emplace();
        QVERIFY(scratch_->isValid());
        QVERIFY(vmx::writeSettingsFile(kIniName, vmx::defaultSettings(0)));
        old_ = readFile(kIniName);
    }
    void cleanup() { scratch_.reset(); }

    // The unnamed file of a killed save goes with the process: nothing is left at all.
    void killedSaveThroughAnUnnamedFileLeavesNothing() {
        StoppedSave save("unnamed");
        QVERIFY(save.stopped());
        QCOMPARE(entries(QDir::currentPath()), QStringList{kIniName});
        save.kill();
        QCOMPARE(entries(QDir::currentPath()), QStringList{kIniName});
        QCOMPARE(readFile(kIniName), old_);
    }

    // Where the temporary file has a name, a killed save leaves it; the next start removes it,
    // and only it: not the file of a save still running, nor files that merely look alike.
    void nextStartRemovesOnlyAKilledSavesFile() {
        const QStringList decoys = {kIniName + QStringLiteral(".bak"),
                                    kIniName + QStringLiteral(".new-1234567"),
                                    kIniName + QStringLiteral(".new-0123abcd.old"),
                                    kIniName + QStringLiteral(".new-ffffffff")};
        for (const QString& decoy : decoys.mid(0, 3))
            QVERIFY(writeFile(decoy, "keep"));
        QVERIFY(writeFile(QStringLiteral("elsewhere"), "keep"));
        QVERIFY(QFile::link(QStringLiteral("elsewhere"), decoys.last())); // a link, not a file
        QStringList before = entries(QDir::currentPath());

        StoppedSave killed("named");
        QVERIFY(killed.stopped());
        const QStringList leftover = newEntries(before);
        QCOMPARE(leftover.size(), 1);
        QVERIFY(leftover.first().startsWith(kIniName + QStringLiteral(".new-")));
        killed.kill();
        before << leftover;

        StoppedSave running("named");
        QVERIFY(running.stopped());
        const QStringList inUse = newEntries(before);
        QCOMPARE(inUse.size(), 1);

        QVERIFY2(programRemovedAnEntry(), "the next start removed nothing");
        QStringList expected = before + inUse;
        expected.removeOne(leftover.first());
        expected.sort();
        QCOMPARE(entries(QDir::currentPath()), expected);
        QCOMPARE(readFile(kIniName), old_);
        for (const QString& decoy : decoys)
            QCOMPARE(readFile(decoy), QByteArray("keep"));

        // The save that was held up ends as it would have.
        QVERIFY(running.finish());
        expected.removeOne(inUse.first());
        QCOMPARE(entries(QDir::currentPath()), expected);
        vmx::Settings saved;
        QVERIFY(vmx::decodeSettings(readFile(kIniName), saved));
        QCOMPARE(saved.iniCommand, QStringLiteral("NEW"));
    }

private:
    std::optional<vmx::test::ScratchDir> scratch_;
    QByteArray old_;
};

QTEST_GUILESS_MAIN(TestInterruptedSave)
#include "tst_interrupted_save.moc"
