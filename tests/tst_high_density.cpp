// The window on a high-density screen. QT_SCALE_FACTOR is read when the application starts, so
// the suite starts itself as a child at scale 1 and at scale 2; each child builds the real window
// and describes it. Under Qt's scaling the layout is in logical pixels: at scale 2 every control
// keeps its logical place and size, and so covers exactly twice as many device pixels.
#include "support/window_fixture.h"

#include <QApplication>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include <cstdio>

namespace {

constexpr char kDescribeArgument[] = "--describe-window";

// The width a control's caption needs from the control's left edge, or -1 for no caption.
int captionNeed(QWidget* control) {
    const QFontMetrics metrics = control->fontMetrics();
    if (auto* frame = qobject_cast<QGroupBox*>(control))
        // The frame draws its caption on its top line, 7 pixels in, with 2 pixels either side.
        return 7 + 2 + metrics.horizontalAdvance(frame->title()) + 2;
    if (auto* radio = qobject_cast<QRadioButton*>(control)) {
        QStyleOptionButton option;
        option.initFrom(radio);
        option.text = radio->text();
        const QRect text =
            radio->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, radio);
        return text.left() + metrics.horizontalAdvance(radio->text());
    }
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
        return 2 * margin + metrics.horizontalAdvance(button->text());
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        const QMargins margins = label->contentsMargins();
        return margins.left() + margins.right() + metrics.horizontalAdvance(label->text());
    }
    return -1;
}

// Child: the started window, described as one JSON object on standard output.
int describeWindow(int argc, char* argv[]) {
    QApplication app(argc, argv);
    vmx::test::WindowFixture fixture;
    if (!fixture.start())
        return 2;
    QWidget* client = fixture.form().centralWidget();
    QJsonArray controls;
    for (QWidget* control : client->findChildren<QWidget*>()) {
        if (control->objectName().isEmpty() || control->objectName().startsWith(u"qt_"))
            continue; // internals of composite widgets
        const QPoint at = control->mapTo(client, QPoint(0, 0));
        controls.append(QJsonObject{{"name", control->objectName()},
                                    {"x", at.x()},
                                    {"y", at.y()},
                                    {"width", control->width()},
                                    {"height", control->height()},
                                    {"captionNeed", captionNeed(control)}});
    }
    const QPixmap picture = fixture.form().grab();
    const QJsonObject window{{"devicePixelRatio", fixture.form().devicePixelRatioF()},
                             {"width", fixture.form().width()},
                             {"height", fixture.form().height()},
                             {"pictureWidth", picture.width()},
                             {"pictureHeight", picture.height()},
                             {"clientWidth", client->width()},
                             {"clientHeight", client->height()},
                             {"controls", controls}};
    std::fputs(QJsonDocument(window).toJson(QJsonDocument::Compact).constData(), stdout);
    return 0;
}

QJsonObject windowAtScale(const QString& scale) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
    if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QLatin1String(kDescribeArgument)});
    if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0) {
        qWarning("child at scale %s: %s", qPrintable(scale), child.readAllStandardError().data());
        return {};
    }
    return QJsonDocument::fromJson(child.readAllStandardOutput()).object();
}

QRect placeOf(const QJsonObject& control) {
    return {control[u"x"].toInt(), control[u"y"].toInt(), control[u"width"].toInt(),
            control[u"height"].toInt()};
}

} // namespace

class TestHighDensity : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        normal_ = windowAtScale(QStringLiteral("1"));
        dense_ = windowAtScale(QStringLiteral("2"));
        QVERIFY(!normal_.isEmpty());
        QVERIFY(!dense_.isEmpty());
        QCOMPARE(normal_[u"devicePixelRatio"].toDouble(), 1.0);
        QCOMPARE(dense_[u"devicePixelRatio"].toDouble(), 2.0);
        // 28 controls, the frames' option buttons among them.
        QCOMPARE(normal_[u"controls"].toArray().size(), 28);
    }

    // The same window in logical pixels, drawn on twice as many device pixels each way.
    void layoutIsScaledAsAWhole() {
        for (const char* key : {"width", "height", "clientWidth", "clientHeight"})
            QCOMPARE(dense_[QLatin1String(key)].toInt(), normal_[QLatin1String(key)].toInt());
        QCOMPARE(normal_[u"clientWidth"].toInt(), 777);
        QCOMPARE(normal_[u"clientHeight"].toInt(), 355);
        for (const QJsonObject& window : {normal_, dense_}) {
            const double ratio = window[u"devicePixelRatio"].toDouble();
            QCOMPARE(window[u"pictureWidth"].toInt(), qRound(window[u"width"].toInt() * ratio));
            QCOMPARE(window[u"pictureHeight"].toInt(), qRound(window[u"height"].toInt() * ratio));
        }
        const QJsonArray normal = normal_[u"controls"].toArray();
        const QJsonArray dense = dense_[u"controls"].toArray();
        QCOMPARE(dense.size(), normal.size());
        for (qsizetype i = 0; i < normal.size(); ++i) {
            const QJsonObject a = normal[i].toObject();
            const QJsonObject b = dense[i].toObject();
            QCOMPARE(b[u"name"].toString(), a[u"name"].toString());
            QCOMPARE(placeOf(b), placeOf(a));
        }
    }

    void controlsInsideAndCaptionsWhole_data() {
        QTest::addColumn<QString>("scale");
        QTest::newRow("scale 1") << QStringLiteral("1");
        QTest::newRow("scale 2") << QStringLiteral("2");
    }

    void controlsInsideAndCaptionsWhole() {
        QFETCH(QString, scale);
        const QJsonObject& window = scale == QLatin1String("1") ? normal_ : dense_;
        const QRect client(0, 0, window[u"clientWidth"].toInt(), window[u"clientHeight"].toInt());
        int captions = 0;
        for (const QJsonValue& value : window[u"controls"].toArray()) {
            const QJsonObject control = value.toObject();
            const QString name = control[u"name"].toString();
            QVERIFY2(client.contains(placeOf(control)), qPrintable(name));
            const int need = control[u"captionNeed"].toInt();
            if (need < 0)
                continue;
            ++captions;
            QVERIFY2(need <= control[u"width"].toInt(),
                     qPrintable(QStringLiteral("%1 needs %2 pixels, has %3")
                                    .arg(name)
                                    .arg(need)
                                    .arg(control[u"width"].toInt())));
        }
        // Three frames, eleven option buttons, three push buttons and five labels.
        QCOMPARE(captions, 22);
    }

private:
    QJsonObject normal_;
    QJsonObject dense_;
};

int main(int argc, char* argv[]) {
    if (argc > 1 && qstrcmp(argv[1], kDescribeArgument) == 0)
        return describeWindow(argc, argv);
    QCoreApplication app(argc, argv);
    TestHighDensity test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_high_density.moc"
