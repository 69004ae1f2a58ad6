// Appends reply lines through the window's real receive path and prints how fast, how the cost
// of a line changes as the message window grows, and the memory it takes per line.
//
//   bench_message_window [lines] [runs]   (default 200000 lines; runs: a part of the run names,
//                                          e.g. "bursts"; run with QT_QPA_PLATFORM=offscreen)
#include "app/main_form.h"
#include "app/message_window.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Receive = void (vmx::MainForm::*)(const QByteArray&);

// A full reply as the device sends it: three leading characters, the payload, two check
// characters and ETX. No SEND has run, so the echoed command is empty.
QByteArray replyFor(int line) {
    return QByteArray("\x07"
                      "02") +
           "T=" + QByteArray::number(21.5 + line % 100) + " #" + QByteArray::number(line) +
           "4F\x03";
}

// Resident memory of the process now, in bytes.
double residentBytes() {
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE));
}

struct Figures {
    double linesPerSecond;
    double firstUs; // median cost per line over the first slice
    double lastUs;  // and over the last slice
    double bytesPerLine;
};

// Feeds `lines` replies, `burst` per turn of the event loop, and times each turn.
Figures run(int lines, int burst, Receive receive) {
    vmx::MainFormSeams seams;
    seams.showMessage = [](QWidget*, const QString&) {};
    seams.endProgram = [] {};
    vmx::MainForm form(seams);
    form.show();
    QApplication::processEvents();

    const int slice = std::min(20000, lines / 2);
    std::vector<double> lineNs(static_cast<size_t>(lines));
    const double residentBefore = residentBytes();
    QElapsedTimer total;
    total.start();
    for (int first = 0; first < lines; first += burst) {
        const int count = std::min(burst, lines - first);
        QElapsedTimer turn;
        turn.start();
        for (int i = 0; i < count; ++i)
            (form.*receive)(replyFor(first + i));
        // The window handles the rest of the event, inserts the gathered lines and paints.
        QApplication::processEvents();
        const double each = double(turn.nsecsElapsed()) / count;
        for (int i = 0; i < count; ++i)
            lineNs[static_cast<size_t>(first + i)] = each;
    }
    const double seconds = double(total.nsecsElapsed()) / 1e9;
    // Every line is still held here, so this is the run's peak.
    const double residentAfter = residentBytes();

    if (form.messageWindow().text().count(QLatin1String("\r\n")) != lines)
        std::fprintf(stderr, "line count mismatch\n");

    // The median over a slice: a turn slowed by another process on the machine does not count.
    auto median = [&](int from) {
        std::vector<double> slice_(lineNs.begin() + from, lineNs.begin() + from + slice);
        std::nth_element(slice_.begin(), slice_.begin() + slice / 2, slice_.end());
        return slice_[static_cast<size_t>(slice / 2)] / 1000.0;
    };
    return {lines / seconds, median(0), median(lines - slice),
            (residentAfter - residentBefore) / lines};
}

void report(const char* name, const Figures& f) {
    std::printf("%-22s %10.0f lines/s   first 20k %7.2f us/line   last 20k %7.2f us/line   "
                "ratio %.2f   memory %6.0f bytes/line\n",
                name, f.linesPerSecond, f.firstUs, f.lastUs, f.lastUs / f.firstUs, f.bytesPerLine);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::max(100, std::atoi(argv[1])) : 200000;
    // An optional second argument picks the runs whose name contains it ("bursts", "UDP").
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    std::printf("%d reply lines through the receive path into a real MainForm\n", lines);
    const struct {
        const char* name;
        int burst;
        Receive receive;
    } runs[] = {
        {"UDP, bursts of 1000", 1000, &vmx::MainForm::datagramReceived},
        {"serial, bursts of 1000", 1000, &vmx::MainForm::serialReceived},
        {"UDP, single events", 1, &vmx::MainForm::datagramReceived},
        {"serial, single events", 1, &vmx::MainForm::serialReceived},
    };
    // Fonts, styles and the first allocations of a window are paid once, outside the figures.
    run(2000, 1000, &vmx::MainForm::datagramReceived);
    for (const auto& r : runs)
        if (QString::fromLatin1(r.name).contains(only, Qt::CaseInsensitive))
            report(r.name, run(lines, r.burst, r.receive));
    return 0;
}
