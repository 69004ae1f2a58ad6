#include "links/serial_link.h"
#include "support/four_ports.h"
#include "support/frame_bytes.h"
#include "support/link_parts.h"
#include "support/object_tree.h"
#include "support/prepared_now.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using vmx::SerialLink;
using vmx::serialPortPath;
using vmx::test::allByteValues;
using vmx::test::bytes;
using vmx::test::FourPorts;
using vmx::test::kDefaultFrame;
using vmx::test::PtyPair;
using vmx::test::ScratchDir;

namespace {

// The output speed the driver holds for port n, or B0 when it cannot be read.
speed_t outputSpeed(const FourPorts& ports, int portNumber) {
    termios t{};
    return ports.pty(portNumber).slaveTermios(t) ? cfgetospeed(&t) : B0;
}

// The target the window's option buttons give: port 0..3 for COM1..COM4, baud 0..3 for
// 1200..19200, format 0 for E71 and 1 for N81.
vmx::SerialTarget target(int portSelect, int baudSelect, int comFormat) {
    vmx::SerialTarget t;
    t.serialPort = portSelect + 1;
    t.line = vmx::lineSettings(vmx::BaudRate(baudSelect), vmx::LineFormat(comFormat));
    return t;
}

// Writes the frame to the link and returns what the device on port n reads of it.
QByteArray carried(SerialLink& link, const FourPorts& ports, int portNumber,
                   const QByteArray& frame) {
    if (!link.write(frame))
        return "<not written>";
    return ports.pty(portNumber).readMaster(int(frame.size()));
}

// Everything the spied signal has delivered so far, in order.
QByteArray joined(const QSignalSpy& spy) {
    QByteArray out;
    for (const auto& args : spy)
        out += args.at(0).toByteArray();
    return out;
}

// COM1..COM4 on pseudo-terminals and a link prepared with the selections; the link's frame
// must reach port n, whole and alone.
void checkFrameGoesOutUnchanged(int portSelect, int baudSelect, int comFormat, int portNumber,
                                const QByteArray& frame) {
    FourPorts ports;
    QVERIFY(ports.isValid());
    SerialLink link;
    QVERIFY(vmx::test::preparedNow(link, target(portSelect, baudSelect, comFormat)));
    QCOMPARE(carried(link, ports, portNumber, frame), frame);
    QCOMPARE(ports.pty(portNumber).drainMaster(), QByteArray());
}

} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT
private slots:
    void portPathFollowsLocalLinkToTheDevice() {
        ScratchDir dir;
        QVERIFY(dir.isValid());
        PtyPair pty;
        QVERIFY(pty.isValid());
        QVERIFY(pty.linkAs(3));
        const QString path = serialPortPath(3);
        QVERIFY(QFileInfo(path).isAbsolute());
        QCOMPARE(path, QFileInfo(pty.slavePath()).canonicalFilePath());
        QVERIFY(!QFileInfo(path).isSymLink());
    }

    void portPathWithoutLocalLinkIsThePlatformPort_data() {
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<QString>("path");
        QTest::newRow("COM1") << 1 << "/dev/ttyS0";
        QTest::newRow("COM4") << 4 << "/dev/ttyS3";
    }

    void portPathWithoutLocalLinkIsThePlatformPort() {
        QFETCH(int, portNumber);
        QFETCH(QString, path);
        ScratchDir dir;
        QVERIFY(dir.isValid());
        QCOMPARE(serialPortPath(portNumber), path);
    }

    void portPathOfABrokenLinkIsItsTarget() {
        ScratchDir dir;
        QVERIFY(dir.isValid());
        const QString target = dir.filePath(QStringLiteral("gone/ttyVMX9"));
        QVERIFY(QFile::link(target, QStringLiteral("COM2")));
        QCOMPARE(serialPortPath(2), target);
    }

    void selectionsReachThePort_data() {
        QTest::addColumn<int>("portSelect");
        QTest::addColumn<int>("baudSelect");
        QTest::addColumn<int>("comFormat");
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<uint>("speed");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("dataBits");

        QTest::newRow("port 3, 19200, N, 8, 1")
            << 2 << 3 << 1 << 3 << uint(B19200) << 19200 << int(QSerialPort::NoParity)
            << int(QSerialPort::Data8);
        QTest::newRow("port 1, 1200, E, 7, 1")
            << 0 << 0 << 0 << 1 << uint(B1200) << 1200 << int(QSerialPort::EvenParity)
            << int(QSerialPort::Data7);
        QTest::newRow("port 2, 2400, E, 7, 1")
            << 1 << 1 << 0 << 2 << uint(B2400) << 2400 << int(QSerialPort::EvenParity)
            << int(QSerialPort::Data7);
        QTest::newRow("port 4, 9600, N, 8, 1")
            << 3 << 2 << 1 << 4 << uint(B9600) << 9600 << int(QSerialPort::NoParity)
            << int(QSerialPort::Data8);
    }

    void selectionsReachThePort() {
        QFETCH(int, portSelect);
        QFETCH(int, baudSelect);
        QFETCH(int, comFormat);
        QFETCH(int, portNumber);
        QFETCH(uint, speed);
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, dataBits);

        FourPorts ports;
        QVERIFY(ports.isValid());
        SerialLink link;
        QVERIFY(vmx::test::preparedNow(link, target(portSelect, baudSelect, comFormat)));
        QVERIFY(vmx::test::serialPortOpen(link));

        // The speed as the driver holds it; a pseudo-terminal forces 8 data bits without
        // parity in its termios, so the framing is read back from the open port itself.
        QCOMPARE(uint(outputSpeed(ports, portNumber)), speed);
        const QSerialPort& port = vmx::test::partOf<QSerialPort>(link);
        QCOMPARE(port.baudRate(), baud);
        QCOMPARE(int(port.parity()), parity);
        QCOMPARE(int(port.dataBits()), dataBits);
        QCOMPARE(port.stopBits(), QSerialPort::OneStop);
        QCOMPARE(port.flowControl(), QSerialPort::NoFlowControl);
        QVERIFY(port.openMode().testFlag(QIODevice::ReadWrite));

        // And it is the selected device that carries the frame.
        QCOMPARE(carried(link, ports, portNumber, kDefaultFrame), kDefaultFrame);
        QVERIFY(ports.othersSilent(portNumber));
    }

    void frameGoesOutInOrderAndNothingElse_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("address 02, RD") << kDefaultFrame;
        QTest::newRow("7 bytes: address 5, X") << bytes({0x07, 0x30, 0x35, 0x58, 0x43, 0x34, 0x03});
        QTest::newRow("address 99, ZZZ")
            << bytes({0x07, 0x39, 0x39, 0x5A, 0x5A, 0x5A, 0x38, 0x37, 0x03});
        // Address 01 with the 18 command characters A..R: check value 0x93.
        QTest::newRow("24 bytes: address 01, A..R")
            << bytes({0x07, 0x30, 0x31, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
                      0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x39, 0x33, 0x03});
    }

    void frameGoesOutInOrderAndNothingElse() {
        QFETCH(QByteArray, frame);
        // The first-start defaults: COM1, "19200, E, 7, 1".
        checkFrameGoesOutUnchanged(0, 3, 0, 1, frame);
    }

    void everyByteValueGoesOutUnchanged() {
        checkFrameGoesOutUnchanged(1, 3, 1, 2, allByteValues());
    }

    void secondPrepareClosesAndReopens() {
        FourPorts ports;
        QVERIFY(ports.isValid());
        SerialLink link;
        QSignalSpy closing(&vmx::test::partOf<QSerialPort>(link), &QIODevice::aboutToClose);
        QVERIFY(closing.isValid());

        QVERIFY(vmx::test::preparedNow(link, target(0, 3, 1)));
        QCOMPARE(closing.count(), 0); // nothing was open before the first preparation
        QCOMPARE(uint(outputSpeed(ports, 1)), uint(B19200));

        // Same selections: the port is still closed and opened again, and works afterwards.
        QVERIFY(vmx::test::preparedNow(link, target(0, 3, 1)));
        QCOMPARE(closing.count(), 1);
        QVERIFY(vmx::test::serialPortOpen(link));
        const QByteArray frame = bytes({0x07, 0x30, 0x35, 0x58, 0x43, 0x34, 0x03});
        QCOMPARE(carried(link, ports, 1, frame), frame);

        // Changed speed: the reopened port runs at the new one.
        QVERIFY(vmx::test::preparedNow(link, target(0, 0, 1)));
        QCOMPARE(closing.count(), 2);
        QCOMPARE(uint(outputSpeed(ports, 1)), uint(B1200));

        // Changed port: the frame now reaches COM3 and the old port hears nothing more.
        QVERIFY(vmx::test::preparedNow(link, target(2, 0, 1)));
        QCOMPARE(closing.count(), 3);
        QCOMPARE(carried(link, ports, 3, frame), frame);
        QVERIFY(ports.othersSilent(3));
    }

    void missingPortFailsAndStaysClosed() {
        FourPorts ports;
        QVERIFY(ports.isValid());
        // COM2 leads nowhere, whatever serial ports this machine has.
        QVERIFY(ports.unplug(2));

        SerialLink link;
        QVERIFY(!vmx::test::preparedNow(link, target(1, 3, 1)));
        QVERIFY(!vmx::test::serialPortOpen(link));
        QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QSerialPort): device not open");
        QVERIFY(!link.write(bytes({0x07})));

        // From an open port: it is closed, the new one fails, and it stays closed.
        QVERIFY(vmx::test::preparedNow(link, target(0, 3, 1)));
        QVERIFY(vmx::test::serialPortOpen(link));
        QVERIFY(!vmx::test::preparedNow(link, target(1, 3, 1)));
        QVERIFY(!vmx::test::serialPortOpen(link));
        QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QSerialPort): device not open");
        QVERIFY(!link.write(bytes({0x07, 0x30})));
        QCOMPARE(ports.pty(1).drainMaster(), QByteArray());

        // Choosing a working port again succeeds.
        QVERIFY(vmx::test::preparedNow(link, target(0, 3, 1)));
        QVERIFY(vmx::test::serialPortOpen(link));
    }

    // A format code no button has gives no line settings: the port keeps those of its last
    // opening, the component's own (9600, N, 8, 1) before any.
    void noLineSettingsKeepThePreviousOnes() {
        FourPorts ports;
        QVERIFY(ports.isValid());
        SerialLink link;
        vmx::SerialTarget keep;
        keep.serialPort = 2;
        QVERIFY(vmx::test::preparedNow(link, keep));
        QCOMPARE(uint(outputSpeed(ports, 2)), uint(B9600));
        QCOMPARE(vmx::test::partOf<QSerialPort>(link).parity(), QSerialPort::NoParity);
        QVERIFY(vmx::test::preparedNow(link, target(0, 0, 0)));
        QVERIFY(vmx::test::preparedNow(link, keep));
        QCOMPARE(uint(outputSpeed(ports, 2)), uint(B1200));
        QCOMPARE(vmx::test::partOf<QSerialPort>(link).parity(), QSerialPort::EvenParity);
        QCOMPARE(vmx::test::partOf<QSerialPort>(link).dataBits(), QSerialPort::Data7);
        QCOMPARE(carried(link, ports, 2, kDefaultFrame), kDefaultFrame);
    }

    // Asked to, the link uses an open port as it is while nothing about it changes, and opens
    // it afresh once it has been lost.
    void keptOpenPortIsReopenedOnlyWhenNeeded() {
        FourPorts ports;
        QVERIFY(ports.isValid());
        SerialLink link;
        QSignalSpy closing(&vmx::test::partOf<QSerialPort>(link), &QIODevice::aboutToClose);
        QSignalSpy lost(&link, &SerialLink::lost);
        vmx::SerialTarget kept = target(0, 3, 1);
        kept.keepOpen = true;
        QVERIFY(vmx::test::preparedNow(link, kept));
        QVERIFY(vmx::test::preparedNow(link, kept));
        QCOMPARE(closing.count(), 0);
        QCOMPARE(carried(link, ports, 1, kDefaultFrame), kDefaultFrame);
        kept.line = vmx::lineSettings(vmx::BaudRate::Baud1200, vmx::LineFormat::N81);
        QVERIFY(vmx::test::preparedNow(link, kept));
        QCOMPARE(closing.count(), 1);
        QCOMPARE(uint(outputSpeed(ports, 1)), uint(B1200));

        QVERIFY(ports.unplug(1));
        ports.pty(1).closeMaster();
        QVERIFY(lost.wait(3000));
        QVERIFY(!vmx::test::preparedNow(link, kept));
        QCOMPARE(link.failureMessage(), QStringLiteral("COM Port error"));
        QVERIFY2(link.failureDetail().contains(QStringLiteral("/ttyVMX1: ")),
                 qPrintable(link.failureDetail()));
    }

    void receivedDeliversWhatTheDeviceSends() {
        FourPorts ports;
        QVERIFY(ports.isValid());
        SerialLink link;
        QSignalSpy spy(&link, &SerialLink::bytesArrived);
        QVERIFY(vmx::test::preparedNow(link, target(3, 2, 1)));

        // An acknowledgement, then a reply in two pieces.
        QVERIFY(ports.pty(4).writeMaster(bytes({0x06})));
        QVERIFY(spy.wait(3000));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toByteArray(), bytes({0x06}));

        spy.clear();
        const QByteArray first("\x07"
                               "02RD1");
        const QByteArray second("2.5FF\x03");
        QVERIFY(ports.pty(4).writeMaster(first));
        QVERIFY(spy.wait(3000));
        QVERIFY(ports.pty(4).writeMaster(second));
        QTRY_COMPARE_WITH_TIMEOUT(joined(spy), first + second, 3000);
        for (const auto& args : std::as_const(spy))
            QVERIFY(!args.at(0).toByteArray().isEmpty());
    }

    void everyByteValueComesInUnchanged() {
        FourPorts ports;
        QVERIFY(ports.isValid());
        SerialLink link;
        QSignalSpy spy(&link, &SerialLink::bytesArrived);
        QVERIFY(vmx::test::preparedNow(link, target(0, 3, 1)));
        const QByteArray all = allByteValues();
        QVERIFY(ports.pty(1).writeMaster(all));
        QTRY_COMPARE_WITH_TIMEOUT(joined(spy), all, 3000);
    }

    // The device on COM1 goes away (the far end closed). Left alone, the link closes the port,
    // says so once and hears nothing more from it, and a later prepare opens afresh: COM1 fails
    // while its device is gone. A prepare of COM2 made after the hang-up's first report, before
    // the close that report queues has run, is never closed by it. Either way COM2 then works.
    void deviceThatGoesAwayIsClosedButNeverAPortOpenedSince_data() {
        QTest::addColumn<bool>("reopenBeforeTheClose");
        QTest::newRow("left alone, then prepared again") << false;
        QTest::newRow("COM2 prepared before the close runs") << true;
    }

    void deviceThatGoesAwayIsClosedButNeverAPortOpenedSince() {
        QFETCH(bool, reopenBeforeTheClose);
        FourPorts ports;
        QVERIFY(ports.isValid());
        SerialLink link;
        QSignalSpy received(&link, &SerialLink::bytesArrived);
        QSignalSpy lost(&link, &SerialLink::lost);
        QSignalSpy errors(&vmx::test::partOf<QSerialPort>(link), &QSerialPort::errorOccurred);
        QVERIFY(vmx::test::preparedNow(link, target(0, 3, 1)));
        ports.pty(1).closeMaster();
        if (reopenBeforeTheClose) {
            QVERIFY(errors.wait(3000));
        } else {
            QVERIFY(lost.wait(3000));
            QVERIFY(!vmx::test::serialPortOpen(link));
            // Closed means no longer watched: the port reports nothing more.
            errors.clear();
            QVERIFY(!lost.wait(200));
            QCOMPARE(errors.count(), 0);
            QCOMPARE(received.count(), 0);
            QCOMPARE(lost.count(), 1);
            QVERIFY(!vmx::test::preparedNow(link, target(0, 3, 1)));
        }
        const qsizetype lostBefore = lost.count();
        QVERIFY(vmx::test::preparedNow(link, target(1, 3, 1)));
        if (reopenBeforeTheClose) {
            QVERIFY(!lost.wait(200));
            QVERIFY(vmx::test::serialPortOpen(link));
        }
        QVERIFY(ports.pty(2).writeMaster(bytes({0x06})));
        QVERIFY(received.wait(3000));
        QCOMPARE(lost.count(), lostBefore);
    }

    void receivesAgainAfterReopening() {
        FourPorts ports;
        QVERIFY(ports.isValid());
        SerialLink link;
        QSignalSpy spy(&link, &SerialLink::bytesArrived);
        QVERIFY(vmx::test::preparedNow(link, target(0, 3, 1)));
        QVERIFY(vmx::test::preparedNow(link, target(0, 3, 0)));
        QVERIFY(ports.pty(1).writeMaster(bytes({0x15})));
        QVERIFY(spy.wait(3000));
        QCOMPARE(spy.at(0).at(0).toByteArray(), bytes({0x15}));
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
