#include "supervision/reply_watchdog.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using vmx::ReplyWatchdog;

class TestReplyWatchdog : public QObject {
    Q_OBJECT
private slots:
    void productionPeriodIsFourSeconds() {
        QCOMPARE(vmx::kReplyTimeout, 4000ms);
        ReplyWatchdog watchdog;
        QSignalSpy spy(&watchdog, &ReplyWatchdog::expired);
        QElapsedTimer clock;
        clock.start();
        watchdog.arm();
        QVERIFY(spy.wait(6000));
        QVERIFY2(clock.elapsed() >= 3990, "the device must be given four seconds");
    }

    void inertUntilFirstArming() {
        ReplyWatchdog watchdog(20ms);
        QSignalSpy spy(&watchdog, &ReplyWatchdog::expired);
        QVERIFY(!watchdog.isRunning());
        QVERIFY(!spy.wait(100));
    }

    void firesOncePerArmingAndStopsItselfFirst() {
        ReplyWatchdog watchdog(20ms);
        QSignalSpy spy(&watchdog, &ReplyWatchdog::expired);
        bool runningWhenTold = true;
        connect(&watchdog, &ReplyWatchdog::expired, this,
                [&] { runningWhenTold = watchdog.isRunning(); });
        watchdog.arm();
        QVERIFY(watchdog.isRunning());
        QVERIFY(spy.wait(2000));
        QVERIFY(!runningWhenTold);
        QVERIFY(!spy.wait(100));
        QCOMPARE(spy.count(), 1);
    }

    void disarmStopsIt() {
        ReplyWatchdog watchdog(20ms);
        QSignalSpy spy(&watchdog, &ReplyWatchdog::expired);
        watchdog.arm();
        watchdog.disarm();
        QVERIFY(!spy.wait(100));
        watchdog.disarm(); // disarming a stopped watchdog changes nothing
        QVERIFY(!watchdog.isRunning());
        QCOMPARE(spy.count(), 0);
    }

    void rearmingAfterExpiryFiresAgain() {
        ReplyWatchdog watchdog(20ms);
        QSignalSpy spy(&watchdog, &ReplyWatchdog::expired);
        watchdog.arm();
        QVERIFY(spy.wait(2000));
        watchdog.arm();
        QVERIFY(spy.wait(2000));
        QCOMPARE(spy.count(), 2);
    }

    // Answered and sent again before the first period is over (a polling run): the second
    // arming gets its whole period, and one expiry.
    void rearmingWhileArmedRestartsTheCount_data() {
        QTest::addColumn<bool>("answeredBetween");
        QTest::newRow("re-armed") << false;
        QTest::newRow("disarmed, then armed again") << true;
    }

    void rearmingWhileArmedRestartsTheCount() {
        QFETCH(bool, answeredBetween);
        ReplyWatchdog watchdog(150ms);
        QSignalSpy spy(&watchdog, &ReplyWatchdog::expired);
        QElapsedTimer clock;
        watchdog.arm();
        QTest::qWait(100);
        if (answeredBetween)
            watchdog.disarm();
        clock.start();
        watchdog.arm();
        QVERIFY(spy.wait(2000));
        QCOMPARE(spy.count(), 1);
        QVERIFY2(clock.elapsed() >= 140, "the second arming must give the full period again");
        QVERIFY(!spy.wait(250));
        QCOMPARE(spy.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestReplyWatchdog)
#include "tst_reply_watchdog.moc"
