#pragma once

// What the flood benchmarks measure besides the lines: how long the window's event loop was
// held, seen from inside (a timer in the window's thread) and from outside (a second X client
// that pings the window, when the window runs on X), the process's peak memory, and how much
// processor time other programs took meanwhile, which decides whether a verdict can be given.

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QTimer>
#include <QWidget>

#include "machine_load.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace vmx::bench {

// Ctrl+A, then Ctrl+C, as the operator types them into the message window.
inline void selectAllAndCopy(QWidget* messageView) {
    for (const Qt::Key key : {Qt::Key_A, Qt::Key_C}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier);
        QApplication::sendEvent(messageView, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::ControlModifier);
        QApplication::sendEvent(messageView, &release);
    }
}

// The process's peak resident memory since the last resetPeak(), in MiB.
inline double peakMiB() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1)
            break;
    std::fclose(status);
    return double(kib) / 1024.0;
}

inline void resetPeak() {
    if (FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
}

inline double percentile99(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * 99 / 100)];
}

// A timer that should fire every 5 ms in the window's thread: the gaps between its ticks are
// the times the window could not react.
class StallTimer {
public:
    StallTimer() {
        tick_.setTimerType(Qt::PreciseTimer);
        tick_.setInterval(5);
        QObject::connect(&tick_, &QTimer::timeout, [this] {
            gaps_.push_back(double(since_.nsecsElapsed()) / 1e6);
            since_.restart();
        });
    }
    void start() {
        gaps_.clear();
        since_.start();
        tick_.start();
    }
    void stop() { tick_.stop(); }
    double longestMs() const {
        return gaps_.empty() ? 0 : *std::max_element(gaps_.begin(), gaps_.end());
    }
    double p99Ms() const { return percentile99(gaps_); }

private:
    QTimer tick_;
    QElapsedTimer since_;
    std::vector<double> gaps_;
};

// What the X probe saw.
struct XFigures {
    bool ran = false;
    long pings = 0;
    double maxMs = 0;
    double p99Ms = 0;
    long pastes = 0;
    double longestPasteMs = 0;
    long pasteBytes = 0;
};

// How the X probe pastes (the floods' last two arguments): as which target, and how many pastes
// at once, as so many programs would. A large text taken as STRING was once made over for
// every paste.
inline QByteArray pasteTarget = "UTF8_STRING";
inline int pastesAtOnce = 1;

// " as STRING, 10 at once" when the probe does not paste just once as UTF8_STRING.
inline std::string pasteManner() {
    if (pasteTarget == "UTF8_STRING" && pastesAtOnce == 1)
        return {};
    return " as " + pasteTarget.toStdString() + ", " + std::to_string(pastesAtOnce) + " at once";
}

// bench_x_window_probe in another process, pinging `window` until stop(); with `pasteEverySeconds`
// it also pastes the X primary selection that often, as pasteTarget, pastesAtOnce at a time.
class XProbe {
public:
    void start(QWidget& window, double pasteEverySeconds = 0) {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            return;
        QStringList arguments{QString::number(window.winId())};
        if (pasteEverySeconds > 0)
            arguments << QStringLiteral("--paste-every") << QString::number(pasteEverySeconds)
                      << QString::fromLatin1(pasteTarget) << QString::number(pastesAtOnce);
        process_.setProgram(QCoreApplication::applicationDirPath() +
                            QStringLiteral("/bench_x_window_probe"));
        process_.setArguments(arguments);
        process_.start();
        process_.waitForStarted();
    }
    // Ends the probe (it waits for a ping still out, while the window's loop runs on).
    XFigures stop() {
        XFigures f;
        if (process_.state() == QProcess::NotRunning)
            return f;
        process_.closeWriteChannel();
        QElapsedTimer waited;
        waited.start();
        while (process_.state() != QProcess::NotRunning && waited.elapsed() < 60'000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            process_.waitForFinished(10);
        }
        const QByteArray out = process_.readAllStandardOutput();
        f.ran = std::sscanf(
                    out.constData(),
                    "pings %ld max %lf p99 %lf pastes %ld longest-paste %lf paste-bytes %ld",
                    &f.pings, &f.maxMs, &f.p99Ms, &f.pastes, &f.longestPasteMs, &f.pasteBytes) == 6;
        return f;
    }

private:
    QProcess process_;
};

struct StallFigures {
    double timerLongestMs = 0;
    double timerP99Ms = 0;
    XFigures x;
    double peak = 0;
    FloodQuietWatch machine; // made before the probes start, finished after they ended
};

// Prints the stall and memory lines with their verdicts: "met" only on a quiet machine.
inline void reportStalls(const StallFigures& s) {
    const bool quiet = s.machine.quiet();
    const auto verdict = [quiet](bool within) {
        return !quiet ? "inconclusive (busy machine)" : within ? "met" : "NOT MET";
    };
    std::printf("  longest stall, timer in the window's thread: %.1f ms (p99 %.1f ms)   target <= "
                "100 ms: %s\n",
                s.timerLongestMs, s.timerP99Ms, verdict(s.timerLongestMs <= 100));
    if (s.x.ran) {
        std::printf("  longest stall, X ping from another process:  %.1f ms (p99 %.1f ms, %ld "
                    "pings)   target <= 100 ms: %s\n",
                    s.x.maxMs, s.x.p99Ms, s.x.pings, verdict(s.x.maxMs <= 100));
        if (s.x.pastes > 0)
            std::printf("  pastes of the primary selection: %ld, longest %.1f ms, %ld bytes\n",
                        s.x.pastes, s.x.longestPasteMs, s.x.pasteBytes);
    } else {
        std::printf("  X ping: not measured (the window does not run on X; run under xvfb-run "
                    "with QT_QPA_PLATFORM=xcb)\n");
    }
    std::printf("  peak memory of the process: %.0f MiB   target <= 300 MiB: %s\n", s.peak,
                verdict(s.peak <= 300));
    s.machine.print();
}

} // namespace vmx::bench
