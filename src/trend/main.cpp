// velmarixon-trend: velmarixon-send's records drawn over time, live from standard input or from
// files, or rendered to a PNG or SVG picture without a display.
#include "platform/standard_input.h"
#include "trend/image_export.h"
#include "trend/record_input.h"
#include "trend/trend_painter.h"
#include "trend/trend_window.h"
#include "velmarixon_version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>
#include <cstring>
#include <initializer_list>

using namespace vmx;
using namespace vmx::trend;

namespace {

// The exit statuses of sysexits.h, as velmarixon-send uses them.
constexpr int kUsage = 64;
constexpr int kNoInput = 66;
constexpr int kCannotCreate = 73;

const char kDescription[] =
    "Draws the records of velmarixon-send (--output jsonl or --output csv) over time: one\n"
    "series per port, address and command. A reply whose payload reads as a decimal number\n"
    "is a point; other answers (no-answer, nak, ack, link-error, late, a text payload) are\n"
    "marks below the time axis, and the line breaks there. Lines that are no record, readings\n"
    "that are nan, inf or too large, times going back and a last line cut short are skipped\n"
    "and counted.\n"
    "\n"
    "Live, from a poll:\n"
    "  velmarixon-send --port COM1 --count 0 --output jsonl | tee readings.jsonl | "
    "velmarixon-trend\n"
    "\n"
    "From files:\n"
    "  velmarixon-trend readings.jsonl other.csv\n"
    "\n"
    "A picture for a report, without a display:\n"
    "  velmarixon-trend --render trend.png --size 1200x600 readings.jsonl\n"
    "\n"
    "In the window: Space pauses and resumes following the newest records, the mouse wheel\n"
    "and + and - zoom, dragging and the arrow keys pan, Home shows everything, End follows\n"
    "again, Ctrl+S saves the view as PNG or SVG.";

void printError(const QString& text) {
    std::fprintf(stderr, "velmarixon-trend: %s\n", qPrintable(text));
}

bool hasArgument(int argc, char* argv[], std::initializer_list<const char*> names) {
    for (int i = 1; i < argc; ++i) {
        for (const char* name : names) {
            const std::size_t length = std::strlen(name);
            if (std::strncmp(argv[i], name, length) == 0 &&
                (argv[i][length] == '\0' || argv[i][length] == '='))
                return true;
        }
    }
    return false;
}

int render(const QString& path, QSize size, const QStringList& inputs) {
    TrendModel model;
    for (const QString& input : inputs) {
        if (input == u"-") {
            QFile in;
            if (!in.open(stdin, QIODevice::ReadOnly)) {
                printError(QStringLiteral("standard input cannot be read"));
                return kNoInput;
            }
            RecordInput reader(model);
            while (true) {
                const QByteArray chunk = in.read(1 << 20);
                if (chunk.isEmpty())
                    break;
                reader.feed(chunk);
            }
            reader.finish();
            continue;
        }
        const QString error = loadRecordsFile(input, model);
        if (!error.isEmpty()) {
            printError(error);
            return kNoInput;
        }
    }
    qint64 from = 0, to = 0;
    wholeTimeSpan(model, from, to);
    const QString error = saveTrendImage(path, size, model, from, to);
    if (!error.isEmpty()) {
        printError(error);
        return kCannotCreate;
    }
    std::fprintf(stderr, "velmarixon-trend: %s: %lld records in %zu series, %lld lines skipped\n",
                 qPrintable(path), static_cast<long long>(model.records()), model.series().size(),
                 static_cast<long long>(model.skipped()));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    // A picture for a report or CI needs no display: the offscreen platform draws it anywhere.
    // The help and the version (which make the manual page) need none either.
    const bool toPicture = hasArgument(argc, argv, {"--render"});
    const bool textOnly =
        hasArgument(argc, argv, {"-h", "--help", "--help-all", "-v", "--version"});
    if (toPicture && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Without a display Qt would abort with a message about plugins; say what to do instead.
    if (!toPicture && !textOnly && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM") &&
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        printError(QStringLiteral("no display to show the window on (DISPLAY is not set); "
                                  "--render FILE.png draws a picture without one."));
        return 1;
    }
#endif
    QScopedPointer<QCoreApplication> app;
    if (textOnly)
        app.reset(new QCoreApplication(argc, argv));
    else if (toPicture)
        app.reset(new QGuiApplication(argc, argv));
    else
        app.reset(new QApplication(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral("velmarixon-trend"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption renderOption(
        QStringLiteral("render"),
        QStringLiteral("Draws the records into FILE (.png or .svg) and ends, without a window."),
        QStringLiteral("FILE"));
    const QCommandLineOption sizeOption(QStringLiteral("size"),
                                        QStringLiteral("Size of the rendered picture in pixels "
                                                       "(default 1200x600)."),
                                        QStringLiteral("WxH"), QStringLiteral("1200x600"));
    const QCommandLineOption minutesOption(
        QStringLiteral("minutes"),
        QStringLiteral("Minutes the live view shows while it follows the newest records "
                       "(default 10)."),
        QStringLiteral("n"), QStringLiteral("10"));
    parser.addOptions({renderOption, sizeOption, minutesOption});
    parser.addPositionalArgument(
        QStringLiteral("RECORDS"),
        QStringLiteral("Files of records; - or none reads standard input."),
        QStringLiteral("[RECORDS...]"));
    parser.process(*app);

    QStringList inputs = parser.positionalArguments();
    if (inputs.isEmpty())
        inputs.append(QStringLiteral("-"));
    if (inputs.count(QStringLiteral("-")) > 1) {
        printError(QStringLiteral("standard input (-) can be read only once."));
        return kUsage;
    }
    bool minutesOk = false;
    const int minutes = parser.value(minutesOption).toInt(&minutesOk);
    if (!minutesOk || minutes < 1 || minutes > 7 * 24 * 60) {
        printError(QStringLiteral("--minutes takes a number from 1 to %1.").arg(7 * 24 * 60));
        return kUsage;
    }

    if (parser.isSet(renderOption)) {
        const auto size = QRegularExpression(QStringLiteral("^([0-9]{2,5})x([0-9]{2,5})$"))
                              .match(parser.value(sizeOption));
        const int width = size.captured(1).toInt(), height = size.captured(2).toInt();
        if (!size.hasMatch() || width < 200 || height < 150 || width > 10000 || height > 10000) {
            printError(QStringLiteral("--size takes WIDTHxHEIGHT in pixels, from 200x150 to "
                                      "10000x10000."));
            return kUsage;
        }
        return render(parser.value(renderOption), QSize(width, height), inputs);
    }

    TrendModel model;
    bool live = false;
    for (const QString& input : inputs) {
        if (input == u"-") {
            live = true;
            continue;
        }
        const QString error = loadRecordsFile(input, model);
        if (!error.isEmpty()) {
            printError(error);
            return kNoInput;
        }
    }
    TrendWindow window(model, qint64(minutes) * 60000);
    StandardInputReader reader;
    if (live) {
        QObject::connect(&reader, &StandardInputReader::received, &window, &TrendWindow::feed);
        QObject::connect(&reader, &StandardInputReader::ended, &window, &TrendWindow::inputEnded);
        reader.start();
    } else {
        window.showAll();
    }
    window.show();
    return app->exec();
}
