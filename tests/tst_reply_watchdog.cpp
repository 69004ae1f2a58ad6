#include "supervision/reply_watchdog.h"

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
        watchdog.arm();
        QCOMPARE(watchdog.periodMs(), 4000);
        watchdog.disarm();
    }

    void inertUntilFirstArming() {
        // Enabled with period 0, like the timer at window creation: it must never fire.
        ReplyWatchdog watchdog(20ms);
        QSignalSpy spy(&watchdog, &ReplyWatchdog::expired);
        QVERIFY(watchdog.isEnabled());
        QCOMPARE(watchdog.periodMs(), 0);
        QVERIFY(!watchdog.isRunning());
        QVERIFY(!spy.wait(100));
    }

    void firesOncePerArmingAndDisablesItselfFirst() {
        ReplyWatchdog watchdog(20ms);
        QSignalSpy spy(&watchdog, &ReplyWatchdog::expired);
        bool enabledWhenTold = true;
        connect(&watchdog, &ReplyWatchdog::expired, this,
                [&] { enabledWhenTold = watchdog.isEnabled(); });
        watchdog.arm();
        QVERIFY(watchdog.isRunning());
        QVERIFY(spy.wait(2000));
        QVERIFY(!enabledWhenTold);
        QCOMPARE(watchdog.periodMs(), 20); // the period stays after expiry
        QVERIFY(!spy.wait(100));
        QCOMPARE(spy.count(), 1);
    }

    void disarmStopsItAndKeepsThePeriod() {
        ReplyWatchdog watchdog(20ms);
        QSignalSpy spy(&watchdog, &ReplyWatchdog::expired);
        watchdog.arm();
        watchdog.disarm();
        QVERIFY(!watchdog.isEnabled());
        QCOMPARE(watchdog.periodMs(), 20);
        QVERIFY(!spy.wait(100));
        watchdog.disarm(); // disarming a stopped watchdog changes nothing
        QVERIFY(!watchdog.isEnabled());
        QCOMPARE(spy.count(), 0);
    }

    void rearmingAfterExpiryFiresAgain() {
        ReplyWatchdog watchdog(20ms);
        QSignalSpy spy(&watchdog, &ReplyWatchdog::expired);
        watchdog.arm();
        QVERIFY(spy.wait(2000));
        watchdog.arm();
        QVERIFY(watchdog.isEnabled());
        QVERIFY(spy.wait(2000));
        QCOMPARE(spy.count(), 2);
    }

    void rearmingWhileArmedRestartsTheCount() {
        ReplyWatchdog watchdog(150ms);
        QSignalSpy spy(&watchdog, &ReplyWatchdog::expired);
        QElapsedTimer clock;
        watchdog.arm();
        QTest::qWait(100);
        clock.start();
        watchdog.arm();
        QVERIFY(spy.wait(2000));
        QCOMPARE(spy.count(), 1);
        QVERIFY2(clock.elapsed() >= 140, "the second arming must give the full period again");
    }
};

QTEST_GUILESS_MAIN(TestReplyWatchdog)
#include "tst_reply_watchdog.moc"
