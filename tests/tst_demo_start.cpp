// The start command's demo (scripts/demo.sh) with the built simulator, in a scratch build folder.
// The window is stood in for by velmarixon-send, which asks both simulators from the demo folder
// with the folder's settings and then waits on its input: closing that ends it, as closing the
// window would.
#include "settings/settings_codec.h"
#include "settings/settings_file.h"
#include "support/scratch_dir.h"
#include "support/settings_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>

#include <csignal>

using namespace vmx::test;

namespace {

const QString kScript = QStringLiteral(VMX_SOURCE_DIR "/scripts/demo.sh");

// The tool's answers: the exchange the settings file chooses, then one over UDP to its IP fields.
const QString kTool = QStringLiteral(
    "S='" VMX_SEND_PROGRAM "'; \"$S\" --local-port 0; echo \"default $?\"; "
    "\"$S\" --port udp --local-port 0; echo \"udp $?\"; pwd -P; exec cat >/dev/null");

enum class Ending { CloseTool, CtrlC };

class Demo {
public:
    explicit Demo(const QString& buildDir) : buildDir_(buildDir) {}
    // A check that failed midway still ends the demo through its own clean-up, so no simulator
    // outlives the test.
    ~Demo() {
        if (script_.state() != QProcess::NotRunning) {
            script_.terminate();
            script_.waitForFinished(15000);
        }
    }

    QString folder() const { return buildDir_ + QStringLiteral("/demo"); }
    QString file(const char* name) const { return folder() + u'/' + QLatin1String(name); }

    // Runs the demo until the stand-in tool has asked both devices; its lines after the banner.
    bool start(QStringList* toolLines) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("BUILD_DIR"), buildDir_);
        env.insert(QStringLiteral("VELMARIXON_DEMO_TOOL"), kTool);
        script_.setProcessEnvironment(env);
        script_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        script_.start(QStringLiteral("bash"), {kScript});
        // The tool's last line, its folder, follows its "udp" status.
        static const QRegularExpression asked(QStringLiteral("\\nudp \\d+\\n[^\\n]+\\n"));
        const bool done = QTest::qWaitFor(
            [&] {
                output_ += QString::fromUtf8(script_.readAllStandardOutput());
                return script_.state() == QProcess::NotRunning || asked.match(output_).hasMatch();
            },
            20000);
        static const QString bannerEnd = QStringLiteral("./scripts/start.sh --here\n");
        const qsizetype after = output_.indexOf(bannerEnd);
        *toolLines = after < 0
                         ? QStringList{output_}
                         : output_.mid(after + bannerEnd.size()).split(u'\n', Qt::SkipEmptyParts);
        return done && script_.state() == QProcess::Running;
    }

    quint16 udpPort() const {
        static const QRegularExpression port(QStringLiteral("127\\.0\\.0\\.1:(\\d+) "));
        return quint16(port.match(output_).captured(1).toUInt());
    }

    // Ends the tool or presses Ctrl+C; the exit status of the script.
    int end(Ending ending) {
        if (ending == Ending::CloseTool)
            script_.closeWriteChannel();
        else
            ::kill(pid_t(script_.processId()), SIGINT);
        if (!script_.waitForFinished(15000))
            return -1;
        return script_.exitCode();
    }

private:
    QString buildDir_;
    QProcess script_;
    QString output_;
};

// The seven lines the window writes, with Com1 chosen and the IP fields on 127.0.0.1:port.
QByteArray firstStartIni(quint16 port) {
    return iniFile("1", "4", "1", "RD", "127.0.0.1", QByteArray::number(port), "0");
}

} // namespace

class TestDemoStart : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(scratch_.isValid());
        buildDir_ = scratch_.filePath(QStringLiteral("build"));
        QVERIFY(QDir().mkpath(buildDir_ + QStringLiteral("/tools")));
        QVERIFY(QDir().mkpath(buildDir_ + QStringLiteral("/src")));
        QVERIFY(QFile::link(QStringLiteral(VMX_SIM_PROGRAM),
                            buildDir_ + QStringLiteral("/tools/velmarixon-device-sim")));
        // It writes the settings file.
        QVERIFY(QFile::link(QStringLiteral(VMX_SEND_PROGRAM),
                            buildDir_ + QStringLiteral("/src/velmarixon-send")));
    }

    // Three starts in one folder: a first start, one after EXIT saved other settings, and one
    // while the saved UDP port is taken.
    void preparesRunsAndTidiesUp() {
        // The simulators answer a changing reading, 12.5 first: after EXIT chose Udp, both
        // exchanges go to the UDP simulator, whose second reading is 12.61.
        const QStringList firstAnswers{"12.5", "default 0", "12.5", "udp 0"};
        const QStringList udpAnswers{"12.5", "default 0", "12.61", "udp 0"};
        vmx::Settings saved;
        QByteArray savedIni;
        quint16 savedPort = 0;
        for (int start = 1; start <= 3; ++start) {
            Demo demo(buildDir_);
            QUdpSocket holder;
            if (start == 3)
                QVERIFY(holder.bind(QHostAddress(QHostAddress::LocalHost), savedPort));
            QStringList lines;
            QVERIFY2(demo.start(&lines), qPrintable(lines.join(u'\n')));
            QCOMPARE(lines.mid(0, 4), start == 1 ? firstAnswers : udpAnswers);
            QCOMPARE(lines.value(4), QFileInfo(demo.folder()).canonicalFilePath());
            QVERIFY(demo.folder().startsWith(buildDir_));
            QVERIFY(QFileInfo(demo.file("COM1")).symLinkTarget().startsWith(u"/dev/pts/"));

            const quint16 port = demo.udpPort();
            QVERIFY(port != 0);
            if (start == 1) {
                QCOMPARE(readFile(demo.file("velmarixon.ini")), firstStartIni(port));
                // What EXIT would save: Udp, 2400 baud, N81, the same IP fields.
                QVERIFY(vmx::decodeSettings(firstStartIni(port), saved));
                saved.iniPort = 99;
                saved.iniBaud = 2;
                saved.comFormat = 1;
                QVERIFY(vmx::writeSettingsFile(demo.file("velmarixon.ini"), saved));
                savedIni = readFile(demo.file("velmarixon.ini"));
                savedPort = port;
            } else if (start == 2) {
                QCOMPARE(port, savedPort);
                QCOMPARE(readFile(demo.file("velmarixon.ini")), savedIni);
            } else {
                QVERIFY(port != savedPort);
                vmx::Settings moved = saved;
                moved.ipPort = QString::number(port);
                QCOMPARE(readFile(demo.file("velmarixon.ini")), vmx::encodeSettings(moved));
            }

            QCOMPARE(demo.end(start == 2 ? Ending::CtrlC : Ending::CloseTool),
                     start == 2 ? 130 : 0);
            QVERIFY(!QFileInfo(demo.file("COM1")).isSymLink());
            for (const char* log : {"serial-device.log", "udp-device.log"})
                QVERIFY2(readFile(demo.file(log)).endsWith("-- ending\n"), log);
            QUdpSocket again;
            QVERIFY(again.bind(QHostAddress(QHostAddress::LocalHost), port));
        }
    }

    void saysSoWithoutADisplay() {
        QProcess script;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "VELMARIXON_DEMO_TOOL"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("BUILD_DIR"), scratch_.filePath(QStringLiteral("headless")));
        script.setProcessEnvironment(env);
        script.start(QStringLiteral("bash"), {kScript});
        QVERIFY(script.waitForFinished(10000));
        QCOMPARE(script.exitCode(), 1);
        const QByteArray said = script.readAllStandardError();
        QCOMPARE(said.count('\n'), 1);
        QVERIFY2(said.contains("xvfb-run -a ./scripts/start.sh"), said.constData());
        QVERIFY(!QFileInfo::exists(scratch_.filePath(QStringLiteral("headless"))));
    }

private:
    ScratchDir scratch_;
    QString buildDir_;
};

QTEST_GUILESS_MAIN(TestDemoStart)
#include "tst_demo_start.moc"
