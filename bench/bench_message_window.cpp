// Appends reply lines through the window's real receive path and prints how fast, how the cost
// of a line changes as the message window grows, and the memory it takes per line.
//
//   bench_message_window [lines] [bursts]   (default 200000 lines; "bursts" skips single events;
//                                            run with QT_QPA_PLATFORM=offscreen)
#include "app/main_form.h"
#include "app/message_window.h"

#include <QApplication>
#include <QElapsedTimer>

#include <sys/resource.h>

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

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Figures {
    double linesPerSecond;
    double firstUs; // mean cost per line over the first slice
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
    const long rssBefore = peakRssKb();
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
    const long rssAfter = peakRssKb();

    if (form.messageWindow().text().count(QLatin1String("\r\n")) != lines)
        std::fprintf(stderr, "line count mismatch\n");

    auto mean = [&](int from) {
        double sum = 0;
        for (int i = from; i < from + slice; ++i)
            sum += lineNs[static_cast<size_t>(i)];
        return sum / slice / 1000.0;
    };
    return {lines / seconds, mean(0), mean(lines - slice),
            double(rssAfter - rssBefore) * 1024.0 / lines};
}

void report(const char* name, const Figures& f) {
    std::printf("%-22s %10.0f lines/s   first 20k %7.2f us/line   last 20k %7.2f us/line   "
                "ratio %.2f   peak memory %6.0f bytes/line\n",
                name, f.linesPerSecond, f.firstUs, f.lastUs, f.lastUs / f.firstUs, f.bytesPerLine);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::max(100, std::atoi(argv[1])) : 200000;
    std::printf("%d reply lines through the receive path into a real MainForm\n", lines);
    report("UDP, bursts of 1000", run(lines, 1000, &vmx::MainForm::datagramReceived));
    report("serial, bursts of 1000", run(lines, 1000, &vmx::MainForm::serialReceived));
    if (argc > 2 && QByteArray(argv[2]) == "bursts")
        return 0;
    report("UDP, single events", run(lines, 1, &vmx::MainForm::datagramReceived));
    report("serial, single events", run(lines, 1, &vmx::MainForm::serialReceived));
    return 0;
}
