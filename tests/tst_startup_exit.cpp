// Start-up and the ends of a run, through the real window: the first start, the settings file
// that a start reads and EXIT writes, the close box, and files that cannot be read or written.
#include "app/main_form.h"
#include "settings/settings_codec.h"
#include "support/file_size_limit.h"
#include "support/option_buttons.h"
#include "support/pty_pair.h"
#include "support/settings_files.h"
#include "support/window_fixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using vmx::defaultIpAddress;
using vmx::ReplyWatchdog;
using vmx::test::chosenOptions;
using vmx::test::entries;
using vmx::test::FileSizeLimit;
using vmx::test::iniFile;
using vmx::test::kIniName;
using vmx::test::MessageBoxes;
using vmx::test::PtyPair;
using vmx::test::readFile;
using vmx::test::WindowFixture;
using vmx::test::writeFile;

namespace {

const QString kIniLoadError = QStringLiteral("ini file load error");

QByteArray defaultsFile() {
    return iniFile("1", "4", "1", "RD", defaultIpAddress().toLatin1(), "5000", "0");
}

// Everything in the directory but the COMn links the fixture lays.
QStringList filesBesideTheLinks(WindowFixture& fx) {
    QStringList names = entries(fx.dir().path());
    names.removeIf([](const QString& name) { return name.startsWith(QLatin1String("COM")); });
    return names;
}

enum class ExitBy { Click, TabFromCommand, BacktabFromAddress };

// Ends the run through EXIT the way the operator does it.
bool leaveThroughExit(WindowFixture& fx, ExitBy how) {
    auto* exitgomb = fx.control<QPushButton>("exitgomb");
    switch (how) {
    case ExitBy::Click:
        QTest::mouseClick(exitgomb, Qt::LeftButton);
        return true;
    case ExitBy::TabFromCommand:
    case ExitBy::BacktabFromAddress: {
        QLineEdit* from = fx.box(how == ExitBy::TabFromCommand ? "xxx" : "Text1");
        fx.form().activateWindow();
        from->setFocus(Qt::OtherFocusReason);
        if (!QTest::qWaitFor([from] { return from->hasFocus(); }))
            return false;
        QTest::keyClick(from, Qt::Key_Tab,
                        how == ExitBy::TabFromCommand ? Qt::NoModifier : Qt::ShiftModifier);
        return true;
    }
    }
    return false;
}

// Watches the program's own modal message boxes: notes the text of each as it opens and
// dismisses it once it has been open for `keepOpen`, so that its nested event loop runs that long.
class BoxWatcher {
public:
    explicit BoxWatcher(std::chrono::milliseconds keepOpen) : keepOpen_(keepOpen) {
        poll_.setInterval(10);
        QObject::connect(&poll_, &QTimer::timeout, [this] { look(); });
        poll_.start();
    }
    const QStringList& texts() const { return texts_; }

private:
    void look() {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(window);
            if (!box || !box->isVisible())
                continue;
            if (!opened_.contains(box)) {
                opened_.insert(box, QDeadlineTimer(keepOpen_));
                texts_ << box->text();
            } else if (opened_.value(box).hasExpired()) {
                box->accept();
            }
        }
    }

    std::chrono::milliseconds keepOpen_;
    QTimer poll_;
    QHash<QMessageBox*, QDeadlineTimer> opened_;
    QStringList texts_;
};

// Waits until an entry of the directory is deleted, or a file written in it (a temporary file
// without a name too) is closed, or the process has ended.
bool entryDeletedWhileRunning(const QString& dir, QProcess& process, int timeoutMs) {
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0)
        return false;
    bool deleted = false;
    if (::inotify_add_watch(watch, QFile::encodeName(dir).constData(),
                            IN_DELETE | IN_CLOSE_WRITE) >= 0) {
        process.start();
        QDeadlineTimer deadline(timeoutMs);
        while (!deleted && !deadline.hasExpired() && process.state() != QProcess::NotRunning) {
            pollfd ready{watch, POLLIN, 0};
            deleted = ::poll(&ready, 1, 50) > 0;
        }
    }
    ::close(watch);
    return deleted;
}

} // namespace

class TestStartupExit : public QObject {
    Q_OBJECT
private slots:
    void firstStartWritesTheDefaultsAndShowsThem() {
        WindowFixture fx;
        QVERIFY(!QFileInfo::exists(kIniName));
        QVERIFY(fx.start());
        QVERIFY(fx.record().messages.isEmpty());

        const QByteArray written = readFile(kIniName);
        QCOMPARE(written, defaultsFile());
        QCOMPARE(written.size(), 101 + 18 + defaultIpAddress().size());

        QCOMPARE(chosenOptions(fx.form()), (QStringList{"Option1", "Option8", "Option10"}));
        QCOMPARE(vmx::test::portSelect(fx.form()), 0.0f);
        QCOMPARE(vmx::test::baudSelect(fx.form()), 3.0f);
        QCOMPARE(vmx::test::comFormat(fx.form()), 0.0f);
        QCOMPARE(fx.box("Text1")->text(), QStringLiteral("1"));
        QCOMPARE(fx.box("xxx")->text(), QStringLiteral("RD"));
        QCOMPARE(fx.box("Text3")->text(), defaultIpAddress());
        QCOMPARE(fx.box("Text4")->text(), QStringLiteral("5000"));
        QCOMPARE(vmx::test::ipFieldsShown(fx.form()), 0);
        QCOMPARE(fx.control<QPlainTextEdit>("Text2")->toPlainText(), QString());
        QCOMPARE(fx.box("outmessage")->text(), QString());

        // Nothing is opened at start-up, and the chosen port button has the focus.
        QVERIFY(!vmx::test::serialPortOpen(fx.form()));
        QVERIFY(!vmx::test::udpSocketSetUp(fx.form()));
        QVERIFY(!vmx::test::watchdog(fx.form()).isRunning());
        QTRY_COMPARE(QApplication::focusWidget(), fx.control<QWidget>("Option1"));
        QCOMPARE(fx.record().endCount, 0);
    }

    void startUpFocusIsTheFirstTabStop_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("focused");
        const QByteArray ip = "127.0.0.1";
        QTest::newRow("Com3") << iniFile("3", "1", "5", "RD", ip, "5000", "1") << "Option3";
        // With Udp chosen the port group comes after the clear button: the baud button first.
        QTest::newRow("Udp, 2400") << iniFile("99", "2", "5", "RD", ip, "5000", "1") << "Option6";
        QTest::newRow("Udp, 19200") << iniFile("99", "4", "5", "RD", ip, "5000", "0") << "Option8";
    }

    void startUpFocusIsTheFirstTabStop() {
        QFETCH(QByteArray, file);
        QFETCH(QString, focused);
        WindowFixture fx;
        QVERIFY(writeFile(kIniName, file));
        QVERIFY(fx.start());
        QVERIFY(fx.record().messages.isEmpty());
        QTRY_COMPARE(QApplication::focusWidget(),
                     fx.control<QWidget>(focused.toLatin1().constData()));
        QCOMPARE(fx.record().endCount, 0);
        QCOMPARE(readFile(kIniName), file);
    }

    void exitSavesTheStateAtThatMomentOnce_data() {
        QTest::addColumn<ExitBy>("how");
        QTest::newRow("click") << ExitBy::Click;
        QTest::newRow("Tab from the command box") << ExitBy::TabFromCommand;
        QTest::newRow("Shift+Tab from the address box") << ExitBy::BacktabFromAddress;
    }

    void exitSavesTheStateAtThatMomentOnce() {
        QFETCH(ExitBy, how);
        WindowFixture fx;
        QVERIFY(fx.start());
        fx.click("Option9");
        fx.click("Option6");
        fx.click("Option11");
        fx.box("Text1")->setText(QStringLiteral("02"));
        fx.box("xxx")->setText(QStringLiteral("WR"));
        fx.box("Text4")->setText(QStringLiteral("6123"));
        fx.control<QAction>("help_about")->trigger();
        QVERIFY(vmx::test::infobox() && vmx::test::infobox()->isVisible());

        QVERIFY(leaveThroughExit(fx, how));
        QCOMPARE(fx.record().endCount, 1);
        QVERIFY(fx.record().messages.isEmpty());
        const QByteArray saved =
            iniFile("99", "2", "2", "WR", defaultIpAddress().toLatin1(), "6123", "1");
        QCOMPARE(readFile(kIniName), saved);
        QVERIFY(!vmx::test::infobox() || !vmx::test::infobox()->isVisible());
        QCOMPARE(filesBesideTheLinks(fx), QStringList{kIniName});

        // The run has ended: whatever still reaches EXIT writes nothing and ends nothing again.
        fx.box("Text1")->setText(QStringLiteral("55"));
        QTest::mouseClick(fx.control<QPushButton>("exitgomb"), Qt::LeftButton);
        fx.click("exitgomb");
        QCOMPARE(fx.record().endCount, 1);
        QCOMPARE(readFile(kIniName), saved);
    }

    void closeBoxEndsWithoutSaving_data() {
        QTest::addColumn<bool>("aboutOpen");
        QTest::newRow("about box closed") << false;
        QTest::newRow("about box open") << true;
    }

    void closeBoxEndsWithoutSaving() {
        QFETCH(bool, aboutOpen);
        WindowFixture fx;
        QVERIFY(fx.start());
        fx.click("Option9");
        fx.box("Text1")->setText(QStringLiteral("42"));
        if (aboutOpen) {
            fx.control<QAction>("help_about")->trigger();
            QVERIFY(vmx::test::infobox() && vmx::test::infobox()->isVisible());
        }
        QVERIFY(fx.form().close());
        QCOMPARE(fx.record().endCount, 1);
        QVERIFY(fx.record().messages.isEmpty());
        QCOMPARE(readFile(kIniName), defaultsFile());
        QVERIFY(!vmx::test::infobox() || !vmx::test::infobox()->isVisible());
    }

    void exitStopsAnArmedWatchdog() {
        constexpr auto period = 1000ms;
        WindowFixture fx(period);
        PtyPair device;
        QVERIFY(device.isValid() && device.linkAs(1));
        QVERIFY(fx.start());
        QSignalSpy expiries(&vmx::test::watchdog(fx.form()), &ReplyWatchdog::expired);
        fx.click("Command1");
        QCOMPARE(device.readMaster(8).size(), 8);
        QVERIFY(vmx::test::watchdog(fx.form()).isRunning());

        QTest::mouseClick(fx.control<QPushButton>("exitgomb"), Qt::LeftButton);
        QCOMPARE(fx.record().endCount, 1);
        QVERIFY(!vmx::test::watchdog(fx.form()).isRunning());
        QVERIFY(!expiries.wait(int(period.count() * 3 / 2)));
        QVERIFY(fx.record().messages.isEmpty());
    }

    void fileThatCannotBeLoadedShowsOneMessage_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("afterExit");
        const QByteArray nothingRead = iniFile("0", "0", "2", "RD", "", "", "0");
        QTest::newRow("empty") << QByteArray() << nothingRead;
        // The codes read before the file ended are kept and written back.
        QTest::newRow("cut short") << QByteArray("\"Serial port=\",3\r\n\"Baud rate=\",2\r\n")
                                   << iniFile("3", "2", "2", "RD", "", "", "0");
        QTest::newRow("cut inside line 6")
            << iniFile("4", "3", "7", "XY", "127.0.0.1", "6000", "1").first(110)
            << iniFile("4", "3", "2", "RD", "", "", "0");
        QByteArray garbage;
        quint32 state = 12345;
        for (int i = 0; i < 4096; ++i) {
            state = state * 1103515245u + 12345u;
            char c = char(state >> 24);
            if (c == ',' || c == '\r' || c == '\n')
                c = '#';
            garbage.append(c);
        }
        QTest::newRow("garbage") << garbage << nothingRead;
        QTest::newRow("NUL bytes") << QByteArray(300, '\0') << nothingRead;
        QTest::newRow("10 MB on one line") << QByteArray(10 * 1024 * 1024, 'x') << nothingRead;
    }

    void fileThatCannotBeLoadedShowsOneMessage() {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, afterExit);
        WindowFixture fx;
        QVERIFY(writeFile(kIniName, file));
        QVERIFY(fx.start());
        QCOMPARE(fx.record().messages, QStringList{kIniLoadError});
        QVERIFY(fx.form().isVisible());
        QCOMPARE(chosenOptions(fx.form()), QStringList());
        QCOMPARE(vmx::test::portSelect(fx.form()), 0.0f);
        QCOMPARE(fx.box("Text1")->text(), QStringLiteral("02"));
        QCOMPARE(fx.box("xxx")->text(), QStringLiteral("RD"));
        QCOMPARE(fx.box("Text3")->text(), QString());
        QCOMPARE(fx.box("Text4")->text(), QString());
        QVERIFY(!fx.control<QWidget>("Text3")->isVisible());
        // Start-up neither repairs nor rewrites the file.
        QCOMPARE(readFile(kIniName), file);

        // EXIT writes a complete file from the controls.
        fx.click("exitgomb");
        QCOMPARE(fx.record().endCount, 1);
        QCOMPARE(fx.record().messages, QStringList{kIniLoadError});
        QCOMPARE(readFile(kIniName), afterExit);
    }

    // A settings path that is no regular file is a load error, left as it is; a named pipe does
    // not hold up start-up waiting for a writer.
    void settingsPathThatIsNoFileIsALoadError_data() {
        QTest::addColumn<bool>("pipe");
        QTest::newRow("directory") << false;
        QTest::newRow("named pipe") << true;
    }

    void settingsPathThatIsNoFileIsALoadError() {
        QFETCH(bool, pipe);
        WindowFixture fx;
        if (pipe)
            QVERIFY(::mkfifo("velmarixon.ini", 0600) == 0);
        else
            QVERIFY(QDir().mkdir(kIniName));
        const QByteArray path = QFile::encodeName(fx.dir().filePath(kIniName));

        // Should start-up wait for someone to write into a pipe, this rescuer lets it go after a
        // while (by opening the pipe for writing and closing it at once), so that the suite
        // reports the wait instead of hanging.
        constexpr auto patience = 2000ms;
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        std::thread rescuer([&] {
            std::unique_lock lock(mutex);
            if (finished.wait_for(lock, patience, [&] { return done; }))
                return;
            while (!finished.wait_for(lock, 10ms, [&] { return done; })) {
                const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
        });
        QElapsedTimer clock;
        clock.start();
        const bool started = fx.start();
        const qint64 waited = clock.elapsed();
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        finished.notify_all();
        rescuer.join();

        QVERIFY2(waited < patience.count(), "start-up waited for a writer of the named pipe");
        QVERIFY(started);
        QCOMPARE(fx.record().messages, QStringList{kIniLoadError});
        QCOMPARE(chosenOptions(fx.form()), QStringList());
        struct stat status {};
        QCOMPARE(::lstat(path.constData(), &status), 0);
        QVERIFY(pipe ? S_ISFIFO(status.st_mode) : S_ISDIR(status.st_mode));
    }

    void missingFileThatCannotBeCreatedEndsStartUp_data() {
        QTest::addColumn<bool>("removeDirectory");
        QTest::newRow("link into a missing directory") << false;
        QTest::newRow("current directory removed") << true;
    }

    void missingFileThatCannotBeCreatedEndsStartUp() {
        QFETCH(bool, removeDirectory);
        WindowFixture fx;
        if (removeDirectory)
            QVERIFY(QDir(fx.dir().path()).removeRecursively());
        else
            QVERIFY(
                QFile::link(fx.dir().filePath(QStringLiteral("gone/velmarixon.ini")), kIniName));
        QVERIFY(!fx.start());
        QCOMPARE(fx.record().messages.size(), 1);
        const QString message = fx.record().messages.front();
        QVERIFY2(message.contains(kIniName), qPrintable(message));
        QVERIFY2(message != kIniLoadError, qPrintable(message));
        QVERIFY(!fx.form().isVisible());
        QVERIFY(!QFileInfo::exists(fx.dir().filePath(QStringLiteral("gone"))));
        if (!removeDirectory)
            QVERIFY(QFileInfo(kIniName).isSymLink());
    }

    void fileThatCannotBeWrittenAtExitIsReported_data() {
        QTest::addColumn<bool>("directory");
        QTest::newRow("replaced by a directory") << true;
        QTest::newRow("file size limit") << false;
    }

    void fileThatCannotBeWrittenAtExitIsReported() {
        QFETCH(bool, directory);
        WindowFixture fx;
        QVERIFY(fx.start());
        fx.box("xxx")->setText(QStringLiteral("A LONGER COMMAND THAN BEFORE"));
        if (directory) {
            QVERIFY(QFile::remove(kIniName));
            QVERIFY(QDir().mkdir(kIniName));
            fx.click("exitgomb");
        } else {
            // Far below the file's size: the new content cannot be written whole.
            FileSizeLimit limit(40);
            QVERIFY(limit.isActive());
            fx.click("exitgomb");
        }
        QCOMPARE(fx.record().endCount, 1);
        QCOMPARE(fx.record().messages.size(), 1);
        const QString message = fx.record().messages.front();
        QVERIFY2(message.contains(kIniName), qPrintable(message));
        if (directory) {
            QVERIFY(QFileInfo(kIniName).isDir());
        } else {
            // The last good file is still there, whole, and no half-written file beside it.
            QCOMPARE(readFile(kIniName), defaultsFile());
            QCOMPARE(filesBesideTheLinks(fx), QStringList{kIniName});
        }
    }
    // The save fails and its box stays open for several watchdog periods: the watchdog armed by
    // the SEND before stays quiet and an answer arriving meanwhile is no longer taken.
    void failedSaveAtExitIsTheOnlyMessage() {
        constexpr auto period = 200ms;
        WindowFixture fx(period, MessageBoxes::Shown);
        PtyPair device;
        QVERIFY(device.isValid() && device.linkAs(1));
        QVERIFY(fx.start());
        fx.click("Command1");
        QCOMPARE(device.readMaster(8).size(), 8);
        QVERIFY(vmx::test::watchdog(fx.form()).isRunning());
        QVERIFY(QFile::remove(kIniName));
        QVERIFY(QDir().mkdir(kIniName));

        BoxWatcher boxes(period * 4);
        QTimer::singleShot(period / 2, [&device] { device.writeMaster("\x06"); });
        QTest::mouseClick(fx.control<QPushButton>("exitgomb"), Qt::LeftButton);

        QCOMPARE(boxes.texts().size(), 1);
        QVERIFY2(boxes.texts().front().contains(kIniName), qPrintable(boxes.texts().front()));
        QCOMPARE(fx.record().endCount, 1);
        QVERIFY(!vmx::test::watchdog(fx.form()).isRunning());
        QCOMPARE(fx.messageText(), QString());
        QCOMPARE(fx.rxBuffer(), QByteArray());
    }

    // The real program under a file-size limit far below the settings file, with the signal
    // for it at its default: the first start's write fails (its temporary file is removed)
    // instead of the signal ending the program, and nothing half-written is left.
    void fileSizeLimitDoesNotEndTheProgram() {
        vmx::test::ScratchDir dir;
        QProcess program;
        program.setProgram(QStringLiteral(VELMARIXON_PROGRAM));
        program.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(env);
        program.setChildProcessModifier([] {
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 40;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });

        const bool deleted = entryDeletedWhileRunning(dir.path(), program, 20000);
        // A process the signal ends closes its files as it goes: give it the moment to go.
        const bool ended = program.waitForFinished(500);
        const QProcess::ExitStatus status = program.exitStatus();
        program.kill();
        program.waitForFinished();
        QVERIFY2(deleted, "the program ended before its failed write was cleaned up");
        QVERIFY(!ended || status == QProcess::NormalExit);
        QCOMPARE(entries(dir.path()), QStringList());
    }

    // --version and --help are answered without a display and without a settings file: the
    // program prints and ends, and the folder it ran in stays empty.
    void versionAndHelpNeedNoDisplayAndMakeNoFile_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("version")
            << "--version"
            << QStringLiteral("velmarixon %1").arg(QLatin1String(VELMARIXON_VERSION));
        QTest::newRow("help") << "--help"
                              << "Usage: velmarixon [--help | --version]";
    }
    void versionAndHelpNeedNoDisplayAndMakeNoFile() {
        QFETCH(QString, argument);
        QFETCH(QString, firstLine);
        vmx::test::ScratchDir dir;
        QProcess program;
        program.setProgram(QStringLiteral(VELMARIXON_PROGRAM));
        program.setArguments({argument});
        program.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QLatin1String(name));
        program.setProcessEnvironment(env);
        program.start();
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        QCOMPARE(out.section(u'\n', 0, 0), firstLine);
        QCOMPARE(entries(dir.path()), QStringList());
    }
};

QTEST_MAIN(TestStartupExit)
#include "tst_startup_exit.moc"
