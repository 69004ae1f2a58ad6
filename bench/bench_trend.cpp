// velmarixon-trend's drawing from files and live: a day of readings at 1 Hz (86,400 records)
// read from a file and drawn within 1 s; a million records within 3 s and 200 MiB of peak
// memory; 100 records a second arriving live with every repaint within 16 ms. Each case runs
// in a fresh process, so its peak memory is its own.
#include "cli/exchange_record.h"
#include "machine_load.h"
#include "trend/record_input.h"
#include "trend/trend_painter.h"
#include "trend/trend_view.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace vmx;
using namespace vmx::trend;

namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(0, 0), Qt::OffsetFromUTC, 3600);

// A reading that drifts, with a little noise and now and then a jump.
double reading(qint64 i) {
    return 12.5 + 1.5 * std::sin(double(i) / 5000.0) + 0.05 * double((i * 7919) % 13 - 6) +
           (i % 10007 == 0 ? 3.0 : 0.0);
}

ExchangeRecord record(qint64 i, qint64 stepMs, const QString& port) {
    ExchangeRecord r;
    r.time = kStart.addMSecs(i * stepMs);
    r.port = port;
    r.address = QStringLiteral("1");
    r.command = QStringLiteral("RD");
    // One exchange in 500 gets no answer.
    r.outcome = i % 500 == 499 ? Outcome::NoAnswer : Outcome::Reply;
    if (r.outcome == Outcome::Reply)
        r.payload = QByteArray::number(reading(i), 'f', 3);
    else
        r.error = QStringLiteral("Communication fail with device");
    r.roundTripMs = 0.412;
    return r;
}

// The records as velmarixon-send writes them.
bool writeRecords(const QString& path, qint64 count, qint64 stepMs) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray buffer;
    const QString port = QStringLiteral("/dev/ttyUSB0");
    for (qint64 i = 0; i < count; ++i) {
        buffer += formatRecord(RecordFormat::Jsonl, record(i, stepMs, port)).toUtf8();
        buffer += '\n';
        if (buffer.size() > (1 << 20)) {
            file.write(buffer);
            buffer.clear();
        }
    }
    return file.write(buffer) == buffer.size() && file.flush();
}

double peakMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

// Reads the file and draws it whole on a 1200x600 picture, five times over, each from nothing.
int fileCase(const char* name, const QString& path, double targetSeconds, double targetMiB) {
    std::vector<double> seconds;
    qint64 records = 0, skipped = 0;
    bench::LoadWatch load;
    for (int repeat = 0; repeat < 5; ++repeat) {
        QElapsedTimer timer;
        timer.start();
        TrendModel model;
        if (!loadRecordsFile(path, model).isEmpty())
            return 1;
        QImage image(1200, 600, QImage::Format_RGB32);
        QPainter painter(&image);
        qint64 from = 0, to = 0;
        wholeTimeSpan(model, from, to);
        paintTrend(painter, layoutTrend(image.rect(), painter.font(), model, from, to), model);
        painter.end();
        seconds.push_back(double(timer.nsecsElapsed()) / 1e9);
        records = model.records();
        skipped = model.skipped();
    }
    load.finish();
    const double median = bench::percentile(seconds, 0.5);
    const double worst = *std::max_element(seconds.begin(), seconds.end());
    const double peak = peakMiB();
    std::printf("%s: %lld records (%lld skipped) read and drawn on 1200x600 in p50 %.3f s, "
                "worst of 5 %.3f s (target <= %.1f s: %s)\n",
                name, static_cast<long long>(records), static_cast<long long>(skipped), median,
                worst, targetSeconds, load.verdict(worst <= targetSeconds));
    if (targetMiB > 0)
        std::printf("  peak memory %.1f MiB (target <= %.0f MiB: %s)\n", peak, targetMiB,
                    peak > 0 && peak <= targetMiB ? "met" : "NOT MET");
    else
        std::printf("  peak memory %.1f MiB\n", peak);
    return 0;
}

// 100 records a second for 20 s into the live view, which already holds 30 minutes of them and
// follows the newest 10; each record is read as a line and followed by a repaint at once, which
// is more than the window does (it folds the repaints of one turn of the event loop into one).
int liveCase() {
    TrendModel model;
    RecordInput input(model);
    const QStringList ports{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("127.0.0.1:6000")};
    const qint64 history = 30 * 60 * 100;
    for (qint64 i = 0; i < history; ++i)
        input.feed(formatRecord(RecordFormat::Jsonl, record(i, 10, ports[i % 2])).toUtf8() + '\n');
    TrendView view(model, 10 * 60000);
    view.resize(1200, 600);
    view.show();
    view.recordsAdded();
    view.repaint();

    std::vector<double> repaintMs;
    qint64 next = history;
    bench::LoadWatch load;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        input.feed(formatRecord(RecordFormat::Jsonl, record(next, 10, ports[next % 2])).toUtf8() +
                   '\n');
        ++next;
        view.recordsAdded();
        QElapsedTimer paint;
        paint.start();
        view.repaint();
        repaintMs.push_back(double(paint.nsecsElapsed()) / 1e6);
        if (repaintMs.size() >= 2000)
            QCoreApplication::quit();
    });
    timer.start(10);
    QCoreApplication::exec();
    load.finish();
    const double worst = *std::max_element(repaintMs.begin(), repaintMs.end());
    std::printf("live, 100 records/s, view of 1200x600 following 10 of %lld minutes: %zu repaints "
                "p50 %.2f ms p99 %.2f ms worst %.2f ms (target every one <= 16 ms: %s)\n",
                static_cast<long long>(model.lastTimeMs() - model.firstTimeMs()) / 60000,
                repaintMs.size(), bench::percentile(repaintMs, 0.5),
                bench::percentile(repaintMs, 0.99), worst, load.verdict(worst <= 16.0));
    std::printf("  peak memory %.1f MiB\n", peakMiB());
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc > 2 && std::strcmp(argv[1], "--day") == 0)
        return fileCase("a day at 1 Hz from a file", QString::fromLocal8Bit(argv[2]), 1.0, 0);
    if (argc > 2 && std::strcmp(argv[1], "--million") == 0)
        return fileCase("a million records from a file", QString::fromLocal8Bit(argv[2]), 3.0, 200);
    if (argc > 1 && std::strcmp(argv[1], "--live") == 0)
        return liveCase();

    QTemporaryDir dir;
    const QString day = dir.filePath(QStringLiteral("day.jsonl"));
    const QString million = dir.filePath(QStringLiteral("million.jsonl"));
    if (!writeRecords(day, 86400, 1000) || !writeRecords(million, 1000000, 100)) {
        std::fprintf(stderr, "the record files could not be written\n");
        return 1;
    }
    std::printf("velmarixon-trend: files of velmarixon-send's JSON lines (%.1f MiB and %.1f MiB; "
                "one exchange in 500 without answer), each case in a fresh process\n",
                double(QFile(day).size()) / 1048576.0, double(QFile(million).size()) / 1048576.0);
    std::fflush(stdout);
    int status = 0;
    for (const QStringList& arguments : {QStringList{QStringLiteral("--day"), day},
                                         QStringList{QStringLiteral("--million"), million},
                                         QStringList{QStringLiteral("--live")}}) {
        QProcess fresh;
        fresh.setProcessChannelMode(QProcess::ForwardedChannels);
        fresh.start(QCoreApplication::applicationFilePath(), arguments);
        if (!fresh.waitForFinished(-1) || fresh.exitCode() != 0) {
            std::fprintf(stderr, "the case %s failed\n", qPrintable(arguments.first()));
            status = 1;
        }
    }
    return status;
}
