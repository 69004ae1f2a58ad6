// velmarixon-trend: records of velmarixon-send read, thinned and drawn where they belong.
#include "cli/exchange_record.h"
#include "trend/axis_ticks.h"
#include "trend/image_export.h"
#include "trend/record_input.h"
#include "trend/thinning.h"
#include "trend/trend_painter.h"
#include "trend/trend_view.h"

#include "platform/standard_input.h"

#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace vmx;
using namespace vmx::trend;

namespace {

// 2026-12-07 16:00:00 at UTC+01:00.
const QDateTime kStart(QDate(2026, 12, 7), QTime(16, 0), Qt::OffsetFromUTC, 3600);

// A line exactly as velmarixon-send writes it.
QByteArray recordLine(RecordFormat format, int second, const QString& port, Outcome outcome,
                      const QByteArray& payload) {
    ExchangeRecord record;
    record.time = kStart.addSecs(second);
    record.port = port;
    record.address = QStringLiteral("1");
    record.command = QStringLiteral("RD");
    record.outcome = outcome;
    record.payload = payload;
    return formatRecord(format, record).toUtf8() + (format == RecordFormat::Csv ? "\r\n" : "\n");
}

// How far a pixel may be from a series' colour: 0 on the image painted without smoothing; an
// SVG viewer smooths the strokes, which blends them with the white around.
int tolerance = 0;

bool isColour(QColor pixel, QColor colour) {
    return std::abs(pixel.red() - colour.red()) <= tolerance &&
           std::abs(pixel.green() - colour.green()) <= tolerance &&
           std::abs(pixel.blue() - colour.blue()) <= tolerance;
}

// True when a pixel within `reach` rows of y in column x has the colour.
bool colourNear(const QImage& image, int x, double y, QColor colour, int reach = 1) {
    for (int dy = -reach; dy <= reach; ++dy) {
        const int row = int(std::lround(y)) + dy;
        if (row >= 0 && row < image.height() && isColour(image.pixelColor(x, row), colour))
            return true;
    }
    return false;
}

bool colourInColumn(const QImage& image, int x, const QRect& plot, QColor colour) {
    for (int y = plot.top(); y <= plot.bottom(); ++y) {
        if (isColour(image.pixelColor(x, y), colour))
            return true;
    }
    return false;
}

} // namespace

class TrendTest : public QObject {
    Q_OBJECT
private:
    // Series A (JSON lines) reads 10 for a minute, but gives no answer from 25 s to 35 s;
    // series B (CSV) reads 20 throughout, with one spike to 30 at 45 s.
    static void knownRecords(TrendModel& model) {
        RecordInput input(model);
        input.feed(recordHeader(RecordFormat::Csv)->toUtf8() + "\r\n");
        for (int s = 0; s <= 60; ++s) {
            const bool gap = s >= 25 && s <= 35;
            input.feed(recordLine(RecordFormat::Jsonl, s, QStringLiteral("COM1"),
                                  gap ? Outcome::NoAnswer : Outcome::Reply, gap ? "" : "10.0"));
            input.feed(recordLine(RecordFormat::Csv, s, QStringLiteral("127.0.0.1:6000"),
                                  Outcome::Reply, s == 45 ? "30" : "20"));
        }
        input.finish();
    }

    // Checks the picture by where each series must be, column by column.
    static void checkColumns(const QImage& image, const TrendFrame& frame) {
        const QColor a = seriesColor(0), b = seriesColor(1);
        const qint64 t0 = kStart.toMSecsSinceEpoch();
        int checked = 0;
        for (int x = frame.plot.left() + 1; x < frame.plot.right(); ++x) {
            const double second = double(frame.timeAt(x + 0.5) - t0) / 1000.0;
            // B everywhere at 20, but at its spike's columns.
            if (std::abs(second - 45) > 1.2) {
                QVERIFY2(colourNear(image, x, frame.yOf(20), b),
                         qPrintable(QStringLiteral("B missing at %1 s").arg(second)));
            }
            // A at 10 where it answered, nowhere in the plot during its gap.
            if (second < 24 || second > 36) {
                QVERIFY2(colourNear(image, x, frame.yOf(10), a),
                         qPrintable(QStringLiteral("A missing at %1 s").arg(second)));
            } else if (second > 25.2 && second < 34.8) {
                QVERIFY2(!colourInColumn(image, x, frame.plot, a),
                         qPrintable(QStringLiteral("A drawn across its gap at %1 s").arg(second)));
            }
            ++checked;
        }
        QVERIFY(checked > 300);
        // The spike to 30 is in its column, and the axis reaches it.
        const int spike = int(std::lround(frame.xOf(t0 + 45000)));
        QVERIFY(colourNear(image, spike, frame.yOf(30), b, 2) ||
                colourNear(image, spike - 1, frame.yOf(30), b, 2));
        QVERIFY(frame.high >= 30 && frame.low <= 10);
        // The gap's answers are marks below the plot.
        const int gapX = int(std::lround(frame.xOf(t0 + 30000)));
        bool marked = false;
        for (int y = frame.markStrip.top(); y <= frame.markStrip.bottom(); ++y) {
            for (int x = gapX - 1; x <= gapX + 1; ++x)
                marked = marked || isColour(image.pixelColor(x, y), a);
        }
        QVERIFY(marked);
    }

private slots:
    void renderOfKnownRecords() {
        TrendModel model;
        knownRecords(model);
        QCOMPARE(model.records(), 122);
        QCOMPARE(model.skipped(), 0);
        QCOMPARE(model.series().size(), std::size_t(2));
        QCOMPARE(model.series()[0]->marks.size(), std::size_t(11));
        QCOMPARE(model.series()[0]->lastText, QStringLiteral("10.0"));

        // On an image through saveTrendImage, as --render writes it, and on SVG read back.
        QTemporaryDir dir;
        qint64 from = 0, to = 0;
        wholeTimeSpan(model, from, to);
        const QSize size(900, 500);
        const TrendFrame frame =
            layoutTrend(QRect(QPoint(0, 0), size), QGuiApplication::font(), model, from, to);
        const QString png = dir.filePath(QStringLiteral("t.png"));
        QCOMPARE(saveTrendImage(png, size, model, from, to), QString());
        const QImage image(png);
        QCOMPARE(image.size(), size);
        checkColumns(image, frame);
        if (QTest::currentTestFailed())
            return;

        const QString svg = dir.filePath(QStringLiteral("t.svg"));
        QCOMPARE(saveTrendImage(svg, size, model, from, to), QString());
        QSvgRenderer renderer(svg);
        QVERIFY(renderer.isValid());
        QImage drawn(size, QImage::Format_RGB32);
        drawn.fill(Qt::white);
        QPainter painter(&drawn);
        renderer.render(&painter);
        painter.end();
        tolerance = 140;
        checkColumns(drawn, frame);
        tolerance = 0;

        QVERIFY(!saveTrendImage(dir.filePath(QStringLiteral("t.gif")), size, model, from, to)
                     .isEmpty());
    }

    void thinningKeepsLowestAndHighest() {
        std::vector<TrendPoint> points;
        for (int i = 0; i < 100000; ++i)
            points.push_back({i, i == 43210 ? 100.0 : i == 77777 ? -50.0 : double(i % 7)});
        const std::vector<ColumnSpan> spans = thinToColumns(points, {}, 0, 99999, 97);
        QVERIFY(spans.size() <= 97);
        // Every reading lies within its own column's stroke.
        std::size_t at = 0;
        for (const TrendPoint& p : points) {
            const int column = columnOf(p.timeMs, 0, 99999, 97);
            while (at < spans.size() && spans[at].column < column)
                ++at;
            QVERIFY(at < spans.size() && spans[at].column == column);
            QVERIFY(spans[at].low <= p.value && p.value <= spans[at].high);
        }
        // Halving for memory keeps them too.
        for (int round = 0; round < 6; ++round)
            halvePoints(points);
        QVERIFY(points.size() < 100000 / 50);
        QVERIFY(std::any_of(points.begin(), points.end(), [](auto p) { return p.value == 100; }));
        QVERIFY(std::any_of(points.begin(), points.end(), [](auto p) { return p.value == -50; }));
        QVERIFY(std::is_sorted(points.begin(), points.end(),
                               [](auto l, auto r) { return l.timeMs < r.timeMs; }));
    }

    void badInputsSkippedAndCounted() {
        TrendModel model;
        RecordInput input(model);
        const QString port = QStringLiteral("COM1");
        const QByteArray good = recordLine(RecordFormat::Jsonl, 10, port, Outcome::Reply, "1.5");
        input.feed(good);
        input.feed("this is not a record\n");
        input.feed("{\"time\":\"2026-12-07T16:00:11.000+01:00\",\"port\":{\"x\":1}}\n");
        for (const QByteArray payload : {"1e999", "nan", "inf", "-Infinity", "NaN", "1e400"})
            input.feed(recordLine(RecordFormat::Jsonl, 12, port, Outcome::Reply, payload));
        // Going back before the newest record of its series.
        input.feed(recordLine(RecordFormat::Csv, 5, port, Outcome::Reply, "2"));
        input.feed(QByteArray(good).replace("T16:00:10", "T16:00:61"));  // no such time
        input.feed(QByteArray(good).replace("\"reply\"", "\"maybe\""));  // no such outcome
        input.feed("2026-12-07T16:00:20.000+01:00,COM1,1,RD,reply,2\n"); // columns missing
        input.feed(QByteArray(200000, 'x') + "\n");                      // far too long
        // Answers without a reading are marks, not skipped.
        input.feed(recordLine(RecordFormat::Jsonl, 20, port, Outcome::Reply, "OK"));
        input.feed(recordLine(RecordFormat::Csv, 21, port, Outcome::Nak, ""));
        input.feed(recordLine(RecordFormat::Csv, 22, port, Outcome::Late, "7"));
        // Another series may be older; then a good record in two pieces, and one cut short.
        const QByteArray other =
            recordLine(RecordFormat::Jsonl, 1, QStringLiteral("COM2"), Outcome::Reply, "-3.25");
        input.feed(other.left(30));
        input.feed(other.mid(30));
        input.feed(recordLine(RecordFormat::Jsonl, 30, port, Outcome::Reply, "2.5").left(50));
        input.finish();

        QCOMPARE(model.skipped(), 14);
        QCOMPARE(model.records(), 5);
        QCOMPARE(model.series().size(), std::size_t(2));
        const TrendSeries& com1 = *model.series()[0];
        QCOMPARE(com1.points.size(), std::size_t(1));
        QCOMPARE(com1.points[0].value, 1.5);
        QCOMPARE(com1.marks.size(), std::size_t(3));
        QCOMPARE(model.series()[1]->points[0].value, -3.25);
        // Nothing left over from the cut-short line.
        input.feed(recordLine(RecordFormat::Jsonl, 40, port, Outcome::Reply, "4"));
        QCOMPARE(model.records(), 6);
    }

    // Readings at both ends of the double range, and one alone: drawn on scales that stay
    // finite, the readings inside the plot.
    void extremeReadingsDraw() {
        for (const QList<QByteArray>& payloads :
             {QList<QByteArray>{"1.7e308", "-1.7e308", "0"}, QList<QByteArray>{"1.7e308"},
              QList<QByteArray>{"4.9e-324", "-0"}}) {
            TrendModel model;
            RecordInput input(model);
            for (int i = 0; i < payloads.size(); ++i)
                input.feed(recordLine(RecordFormat::Jsonl, i, QStringLiteral("COM1"),
                                      Outcome::Reply, payloads[i]));
            QCOMPARE(model.records(), payloads.size());
            qint64 from = 0, to = 0;
            wholeTimeSpan(model, from, to);
            QImage image(600, 300, QImage::Format_RGB32);
            QPainter painter(&image);
            const TrendFrame frame = layoutTrend(image.rect(), painter.font(), model, from, to);
            paintTrend(painter, frame, model);
            QVERIFY(std::isfinite(frame.low) && std::isfinite(frame.high) &&
                    frame.low < frame.high);
            for (const TrendPoint& p : model.series()[0]->points) {
                const double y = frame.yOf(p.value);
                QVERIFY2(y >= frame.plot.top() && y <= frame.plot.bottom(),
                         qPrintable(payloads.join(' ')));
            }
        }
    }

    // The program renders standard input without a display, counts a last line cut short, and
    // says why it refuses a size, a file it cannot read and a picture it cannot write.
    void rendersFromStandardInput() {
        QTemporaryDir dir;
        const QString png = dir.filePath(QStringLiteral("in.png"));
        QByteArray records;
        for (int s = 0; s < 30; ++s)
            records += recordLine(RecordFormat::Csv, s, QStringLiteral("COM1"), Outcome::Reply,
                                  QByteArray::number(s % 5));
        records +=
            recordLine(RecordFormat::Csv, 31, QStringLiteral("COM1"), Outcome::Reply, "7").left(20);
        const auto run = [](const QStringList& arguments, const QByteArray& input) {
            QProcess trend;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove(QStringLiteral("QT_QPA_PLATFORM"));
            env.remove(QStringLiteral("DISPLAY"));
            trend.setProcessEnvironment(env);
            trend.start(QStringLiteral(VMX_TREND_PROGRAM), arguments);
            trend.write(input);
            trend.closeWriteChannel();
            if (!trend.waitForFinished(30000))
                return std::make_pair(-1, QString());
            return std::make_pair(trend.exitCode(),
                                  QString::fromUtf8(trend.readAllStandardError()));
        };
        auto [status, said] = run(
            {QStringLiteral("--render"), png, QStringLiteral("--size"), QStringLiteral("640x360")},
            records);
        QCOMPARE(status, 0);
        QVERIFY2(said.contains(QStringLiteral(": 30 records in 1 series, 1 lines skipped")),
                 qPrintable(said));
        QCOMPARE(QImage(png).size(), QSize(640, 360));

        std::tie(status, said) = run({QStringLiteral("--render"), png, QStringLiteral("--size"),
                                      QStringLiteral("64x9999999")},
                                     {});
        QCOMPARE(status, 64);
        std::tie(status, said) =
            run({QStringLiteral("--render"), png, dir.filePath(QStringLiteral("none.jsonl"))}, {});
        QCOMPARE(status, 66);
        QVERIFY(said.contains(QStringLiteral("cannot be read")));
        std::tie(status, said) = run(
            {QStringLiteral("--render"), dir.filePath(QStringLiteral("no/such/dir.png"))}, records);
        QCOMPARE(status, 73);
    }

#ifdef Q_OS_UNIX
    // Standard input arrives piece by piece while the event loop runs, then its end.
    void readsStandardInputWithoutBlocking() {
        int pipeEnds[2];
        QCOMPARE(::pipe(pipeEnds), 0);
        const int savedInput = ::dup(0);
        QCOMPARE(::dup2(pipeEnds[0], 0), 0);
        ::close(pipeEnds[0]);
        StandardInputReader reader;
        QSignalSpy received(&reader, &StandardInputReader::received);
        QSignalSpy ended(&reader, &StandardInputReader::ended);
        reader.start();
        QVERIFY(!received.wait(50)); // nothing written: no piece, and the loop goes on
        QCOMPARE(::write(pipeEnds[1], "first\n", 6), 6);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(::write(pipeEnds[1], "second", 6), 6);
        ::close(pipeEnds[1]);
        QTRY_COMPARE(ended.size(), 1);
        QByteArray all;
        for (const auto& arguments : received)
            all += arguments.at(0).toByteArray();
        QCOMPARE(all, QByteArray("first\nsecond"));
        QCOMPARE(ended.at(0).at(0).toString(), QString());
        ::dup2(savedInput, 0);
        ::close(savedInput);
    }
#endif

    void ticksAtRoundNumbersInTheRecordsOffset() {
        qint64 t = 0;
        int offset = 0;
        QVERIFY(parseRecordTime("2026-12-07T16:24:04.348+01:00", t, offset));
        QCOMPARE(offset, 3600);
        QCOMPARE(t,
                 QDateTime(QDate(2026, 12, 7), QTime(15, 24, 4, 348), Qt::UTC).toMSecsSinceEpoch());
        qint64 utc = 0;
        QVERIFY(parseRecordTime("2026-12-07T15:24:04.348Z", utc, offset));
        QCOMPARE(utc, t);
        QVERIFY(parseRecordTime("2026-12-07T09:54:04-05:30", utc, offset));
        QCOMPARE(utc, t - 348);
        QVERIFY(!parseRecordTime("2026-02-30T09:54:04Z", utc, offset));

        // Ten minutes from 16:03:17 local: ticks on whole local minutes, labelled in local time.
        const auto ticks = timeTicks(t - 67000, t + 533000, 3600, 8);
        QVERIFY(ticks.size() >= 4 && ticks.size() <= 8);
        QCOMPARE(ticks.front().label, QStringLiteral("16:24"));
        for (const TimeTick& tick : ticks)
            QCOMPARE((tick.timeMs + 3600000) % 120000, 0);
        const ValueTicks values = valueTicks(11.93, 14.07, 6);
        QCOMPARE(values.step, 0.5);
        QCOMPARE(values.values.front(), 12.0);
        QCOMPARE(valueTickLabel(12.5, values.step), QStringLiteral("12.5"));
    }

    void liveViewFollowsUntilPaused() {
        TrendModel model;
        RecordInput input(model);
        TrendView view(model, 60000);
        view.resize(600, 300);
        for (int s = 0; s < 120; ++s)
            input.feed(recordLine(RecordFormat::Jsonl, s, QStringLiteral("COM1"), Outcome::Reply,
                                  QByteArray::number(s)));
        view.recordsAdded();
        const qint64 newest = kStart.toMSecsSinceEpoch() + 119000;
        QCOMPARE(view.toMs(), newest);
        QCOMPARE(view.fromMs(), newest - 60000);
        QTest::keyClick(&view, Qt::Key_Space);
        QVERIFY(view.paused());
        input.feed(
            recordLine(RecordFormat::Jsonl, 200, QStringLiteral("COM1"), Outcome::Reply, "1"));
        view.recordsAdded();
        QCOMPARE(view.toMs(), newest);
        QTest::keyClick(&view, Qt::Key_Left);
        QCOMPARE(view.toMs(), newest - 6000);
        QTest::keyClick(&view, Qt::Key_End);
        QVERIFY(!view.paused());
        QCOMPARE(view.toMs(), newest + 81000);
        QCOMPARE(view.toMs() - view.fromMs(), 60000);
    }
};

QTEST_MAIN(TrendTest)
#include "tst_trend.moc"
