// The signal watch on POSIX: which signal arrived, one watch at a time, and SIGPIPE ignored.
#include "platform/signal_watch.h"

#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <unistd.h>

using vmx::SignalWatch;
using vmx::StopSignal;

Q_DECLARE_METATYPE(vmx::StopSignal)

class TstSignalWatch : public QObject {
    Q_OBJECT

private slots:
    // Each signal reaches the event loop as the stop it stands for, in the order they came, and
    // a program that ends on it can report the shell's status for that signal.
    void eachSignalIsReportedAsItsOwnStop() {
        SignalWatch watch;
        QVERIFY(watch.isValid());
        QSignalSpy arrived(&watch, &SignalWatch::arrived);
        QCOMPARE(::raise(SIGTERM), 0);
        QCOMPARE(::raise(SIGINT), 0);
        QCOMPARE(::raise(SIGHUP), 0);
        QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 3, 5000);
        const StopSignal expected[] = {StopSignal::Terminate, StopSignal::Interrupt,
                                       StopSignal::Hangup};
        for (int i = 0; i < 3; ++i) {
            const auto got = arrived.at(i).at(0).value<StopSignal>();
            QCOMPARE(got, expected[i]);
        }
        QCOMPARE(vmx::exitStatusAfter(StopSignal::Interrupt), 128 + SIGINT);
        QCOMPARE(vmx::exitStatusAfter(StopSignal::Terminate), 128 + SIGTERM);
        QCOMPARE(vmx::exitStatusAfter(StopSignal::Hangup), 128 + SIGHUP);
    }

    // A second watch while one is alive is refused rather than stealing its signals; once the
    // first is gone, a new one works again.
    void oneWatchAtATime() {
        {
            SignalWatch first;
            QVERIFY(first.isValid());
            SignalWatch second;
            QVERIFY(!second.isValid());
            QSignalSpy toFirst(&first, &SignalWatch::arrived);
            QCOMPARE(::raise(SIGHUP), 0);
            QTRY_COMPARE_WITH_TIMEOUT(toFirst.count(), 1, 5000);
        }
        SignalWatch again;
        QVERIFY(again.isValid());
        QSignalSpy arrived(&again, &SignalWatch::arrived);
        QCOMPARE(::raise(SIGINT), 0);
        QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, 5000);
        QCOMPARE(arrived.at(0).at(0).value<StopSignal>(), StopSignal::Interrupt);
    }

    // A write to a pipe without a reader fails with EPIPE instead of ending the program.
    void brokenPipeIsAnErrorNotTheEnd() {
        vmx::ignoreBrokenPipe();
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        ::close(fds[0]);
        const char byte = 'x';
        errno = 0;
        const ssize_t written = ::write(fds[1], &byte, 1);
        const int error = errno;
        ::close(fds[1]);
        QCOMPARE(written, ssize_t(-1));
        QCOMPARE(error, EPIPE);
    }
};

QTEST_GUILESS_MAIN(TstSignalWatch)
#include "tst_signal_watch.moc"
