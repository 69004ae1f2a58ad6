#include "app/main_form.h"
#include "app/message_window.h"
#include "support/window_fixture.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

using vmx::MainForm;
using vmx::test::WindowFixture;

namespace {

QRect fromTwips(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

bool isBold(const QFont& font) {
    return font.bold();
}

} // namespace

class TestMainFormLayout : public QObject {
    Q_OBJECT
private slots:
    void windowIsAMainWindowWithCaptionAndCloseBoxOnly() {
        WindowFixture fixture;
        MainForm& form = fixture.form();
        QVERIFY(qobject_cast<QMainWindow*>(&form));
        QCOMPARE(form.windowTitle(), QStringLiteral("Velmarixon"));
        const Qt::WindowFlags flags = form.windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);
        // Without the customize hint the window system adds its standard buttons.
        QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowTitleHint));
        QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
    }

    void menuHoldsInfoWithAboutOnly() {
        WindowFixture fixture;
        QMenuBar* bar = fixture.form().menuBar();
        QCOMPARE(bar->actions().size(), 1);
        QMenu* help = bar->actions().first()->menu();
        QVERIFY(help);
        QCOMPARE(help->objectName(), QStringLiteral("help"));
        QCOMPARE(help->title(), QStringLiteral("Info"));
        QCOMPARE(help->actions().size(), 1);
        QAction* about = help->actions().first();
        QCOMPARE(about->objectName(), QStringLiteral("help_about"));
        QCOMPARE(about->text(), QStringLiteral("About"));
        QCOMPARE(fixture.form().findChild<QAction*>(QStringLiteral("help_about")), about);
    }

    void clientAreaIsFixedBelowTheMenuBar() {
        WindowFixture fixture;
        QVERIFY(fixture.start());
        MainForm& form = fixture.form();
        QWidget* client = form.centralWidget();
        QVERIFY(client);
        // 11655 x 5325 twips.
        QCOMPARE(client->size(), QSize(777, 355));
        const QRect bar = form.menuBar()->geometry();
        QCOMPARE(bar.top(), 0);
        QCOMPARE(client->geometry().top(), bar.bottom() + 1);
        QCOMPARE(client->geometry().left(), 0);
        QCOMPARE(form.size(), QSize(777, bar.height() + 355));
        QCOMPARE(form.minimumSize(), form.maximumSize());

        // Nothing reacts to a size change: the window keeps its size and the controls their
        // places.
        const QRect send = fixture.control<QPushButton>("Command1")->geometry();
        form.resize(1000, 700);
        QCoreApplication::processEvents();
        QCOMPARE(client->size(), QSize(777, 355));
        QCOMPARE(form.size(), QSize(777, bar.height() + 355));
        QCOMPARE(fixture.control<QPushButton>("Command1")->geometry(), send);
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("geometry");

        auto row = [](const char* name, const char* kind, const char* container,
                      const char* caption, QRect geometry) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind)
                                << QString::fromLatin1(container) << QString::fromLatin1(caption)
                                << geometry;
        };
        row("Frame1", "QGroupBox", "client", "Port number", fromTwips(4800, 360, 1455, 2535));
        row("Option1", "QRadioButton", "Frame1", "Com1", fromTwips(360, 600, 855, 375));
        row("Option2", "QRadioButton", "Frame1", "Com2", fromTwips(360, 960, 855, 375));
        row("Option3", "QRadioButton", "Frame1", "Com3", fromTwips(360, 1320, 855, 375));
        row("Option4", "QRadioButton", "Frame1", "Com4", fromTwips(360, 1680, 855, 375));
        row("Frame2", "QGroupBox", "client", "Baud rate", fromTwips(6480, 360, 1335, 2535));
        row("Option5", "QRadioButton", "Frame2", "1200", fromTwips(240, 600, 735, 255));
        row("Option6", "QRadioButton", "Frame2", "2400", fromTwips(240, 960, 855, 255));
        row("Option7", "QRadioButton", "Frame2", "9600", fromTwips(240, 1320, 735, 255));
        row("Option8", "QRadioButton", "Frame2", "19200", fromTwips(240, 1680, 855, 255));
        row("Command1", "QPushButton", "client", "SEND", fromTwips(9840, 2520, 1335, 495));
        row("xxx", "QLineEdit", "client", "RD", fromTwips(9240, 1920, 1935, 285));
        row("Label1", "QLabel", "client", "COMMAND:", fromTwips(7920, 1920, 1095, 255));
        row("exitgomb", "QPushButton", "client", "EXIT", fromTwips(9720, 4560, 1575, 495));
        row("Label2", "QLabel", "client", "ADDRESS:", fromTwips(8040, 1440, 975, 255));
        row("Text1", "QLineEdit", "client", "02", fromTwips(9960, 1440, 495, 285));
        row("Text2", "QPlainTextEdit", "client", "", fromTwips(360, 240, 4215, 4215));
        row("outmessage", "QLineEdit", "client", "", fromTwips(6360, 3960, 4815, 285));
        row("Label3", "QLabel", "client", "MESSAGE", fromTwips(4920, 3960, 1215, 255));
        row("Command2", "QPushButton", "client", "CLEAR MESSAGE WINDOW",
            fromTwips(960, 4680, 2775, 375));
        row("Option9", "QRadioButton", "Frame1", "Udp", fromTwips(360, 2040, 855, 315));
        row("Label4", "QLabel", "client", "IP ADDRESS", fromTwips(7920, 480, 1095, 255));
        row("Text3", "QLineEdit", "client", "", fromTwips(9240, 480, 1935, 285));
        row("Label5", "QLabel", "client", "PORT", fromTwips(8040, 960, 975, 255));
        row("Text4", "QLineEdit", "client", "", fromTwips(9720, 960, 975, 285));
        row("Frame3", "QGroupBox", "client", "Format", fromTwips(4800, 3120, 3015, 615));
        row("Option10", "QRadioButton", "Frame3", "E71", fromTwips(360, 240, 855, 195));
        row("Option11", "QRadioButton", "Frame3", "N81", fromTwips(1920, 240, 735, 255));
    }

    // Name, kind, container, caption or initial text and place, as the window is created.
    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, container);
        QFETCH(QString, caption);
        QFETCH(QRect, geometry);

        WindowFixture fixture;
        MainForm& form = fixture.form();
        const QList<QWidget*> found = form.findChildren<QWidget*>(name);
        QCOMPARE(found.size(), 1);
        QWidget* control = found.first();
        QVERIFY2(control->inherits(kind.toLatin1().constData()),
                 control->metaObject()->className());
        if (container == QLatin1String("client"))
            QCOMPARE(control->parentWidget(), form.centralWidget());
        else
            QCOMPARE(control->parentWidget()->objectName(), container);
        QCOMPARE(control->geometry(), geometry);

        QString text;
        if (auto* box = qobject_cast<QGroupBox*>(control))
            text = box->title();
        else if (auto* button = qobject_cast<QAbstractButton*>(control))
            text = button->text();
        else if (auto* label = qobject_cast<QLabel*>(control))
            text = label->text();
        else if (auto* line = qobject_cast<QLineEdit*>(control))
            text = line->text();
        else if (auto* plain = qobject_cast<QPlainTextEdit*>(control))
            text = plain->toPlainText();
        QCOMPARE(text, caption);
    }

    void everyControlFitsTheClientArea() {
        WindowFixture fixture;
        const QRect client = fixture.form().centralWidget()->rect();
        for (QWidget* control : fixture.form().centralWidget()->findChildren<QWidget*>()) {
            if (control->objectName().isEmpty())
                continue; // internals of composite widgets
            const QRect onClient(control->mapTo(fixture.form().centralWidget(), QPoint(0, 0)),
                                 control->size());
            QVERIFY2(client.contains(onClient), qPrintable(control->objectName()));
        }
    }

    void initialStateBeforeLoading() {
        WindowFixture fixture;
        MainForm& form = fixture.form();
        for (QRadioButton* radio : form.findChildren<QRadioButton*>())
            QVERIFY2(!radio->isChecked(), qPrintable(radio->objectName()));
        QCOMPARE(form.findChildren<QRadioButton*>().size(), 11);
        QCOMPARE(vmx::test::portSelect(form), 0.0f);
        QCOMPARE(vmx::test::baudSelect(form), 0.0f);
        QCOMPARE(vmx::test::comFormat(form), 0.0f);
        for (const char* ipField : {"Label4", "Text3", "Label5", "Text4"})
            QVERIFY2(fixture.control<QWidget>(ipField)->isHidden(), ipField);
        for (const char* shown : {"Label1", "Label2", "Label3", "Text1", "xxx", "outmessage"})
            QVERIFY2(!fixture.control<QWidget>(shown)->isHidden(), shown);
        QVERIFY(!vmx::test::serialLink(form).isOpen());
        QVERIFY(!form.udpLink().isSetUp());
        QCOMPARE(vmx::test::serialLink(form).objectName(), QStringLiteral("MSComm1"));
        QCOMPARE(form.udpLink().objectName(), QStringLiteral("Winsock1"));
        // The timer is enabled with interval 0: it does not fire until SEND gives it a period.
        QVERIFY(!form.exchange().watchdog().isRunning());
        QVERIFY(!form.exchange().watchdog().isRunning());
        QVERIFY(fixture.record().messages.isEmpty());
    }

    void fonts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("family");
        QTest::addColumn<double>("points");
        QTest::addColumn<bool>("bold");
        const QString arial = QStringLiteral("Arial");
        const QString sans = QStringLiteral("MS Sans Serif");
        QTest::newRow("command box") << QStringLiteral("xxx") << arial << 8.25 << true;
        QTest::newRow("address box") << QStringLiteral("Text1") << arial << 8.25 << true;
        QTest::newRow("IP address") << QStringLiteral("Text3") << sans << 8.25 << true;
        QTest::newRow("IP port") << QStringLiteral("Text4") << sans << 8.25 << true;
        // Everything else uses the window's font.
        QTest::newRow("SEND") << QStringLiteral("Command1") << sans << 8.25 << false;
        QTest::newRow("message window") << QStringLiteral("Text2") << sans << 8.25 << false;
        QTest::newRow("outmessage") << QStringLiteral("outmessage") << sans << 8.25 << false;
        QTest::newRow("Com1") << QStringLiteral("Option1") << sans << 8.25 << false;
        QTest::newRow("label") << QStringLiteral("Label1") << sans << 8.25 << false;
        QTest::newRow("frame") << QStringLiteral("Frame3") << sans << 8.25 << false;
    }

    void fonts() {
        QFETCH(QString, name);
        QFETCH(QString, family);
        QFETCH(double, points);
        QFETCH(bool, bold);
        WindowFixture fixture;
        const QFont window = fixture.form().font();
        QCOMPARE(window.family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(window.pointSizeF(), 8.25);
        QVERIFY(!isBold(window));

        const QFont font = fixture.control<QWidget>(name.toLatin1().constData())->font();
        QCOMPARE(font.family(), family);
        QCOMPARE(font.pointSizeF(), points);
        QCOMPARE(isBold(font), bold);
    }

    void alignments() {
        WindowFixture fixture;
        for (const char* name : {"Label1", "Label2", "Label3", "Label4", "Label5"})
            QVERIFY2(fixture.control<QLabel>(name)->alignment() & Qt::AlignRight, name);
        for (const char* name : {"Text1", "Text3", "Text4"})
            QVERIFY2(fixture.control<QLineEdit>(name)->alignment() & Qt::AlignHCenter, name);
        for (const char* name : {"xxx", "outmessage"})
            QVERIFY2(fixture.control<QLineEdit>(name)->alignment() & Qt::AlignLeft, name);
    }

    void labelsAndFramesTakeNoFocus() {
        WindowFixture fixture;
        QVERIFY(fixture.start());
        for (const char* name : {"Label1", "Label2", "Label3", "Frame1", "Frame2", "Frame3"}) {
            auto* widget = fixture.control<QWidget>(name);
            QCOMPARE(widget->focusPolicy(), Qt::NoFocus);
            QWidget* before = QApplication::focusWidget();
            QVERIFY(before);
            // A click on the caption area of a frame or on a label leaves the focus where it is.
            QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(4, 4));
            QCOMPARE(QApplication::focusWidget(), before);
        }
    }

    void messageWindowScrollsBothWaysWithoutWrapping() {
        WindowFixture fixture;
        QVERIFY(fixture.start());
        auto* text2 = fixture.control<QPlainTextEdit>("Text2");
        QVERIFY(text2->isReadOnly());
        QCOMPARE(text2->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(text2->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(text2->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        const Qt::TextInteractionFlags flags = text2->textInteractionFlags();
        QVERIFY(flags.testFlag(Qt::TextSelectableByMouse));
        QVERIFY(flags.testFlag(Qt::TextSelectableByKeyboard));
        QVERIFY(!flags.testFlag(Qt::TextEditable));

        // A line far wider than the window stays one line; forty lines overflow its height.
        const QByteArray wide(400, 'W');
        for (int i = 0; i < 40; ++i)
            fixture.form().messageWindow().appendLine(i == 0 ? wide : QByteArray::number(i));
        fixture.form().messageWindow().flush();
        QCOMPARE(text2->document()->blockCount(), 41);
        // The wide line is laid out as one line, as tall as a short one and wider than the view.
        const QTextBlock first = text2->document()->firstBlock();
        const QRectF wideLine = text2->document()->documentLayout()->blockBoundingRect(first);
        QCOMPARE(first.layout()->lineCount(), 1);
        QCOMPARE(wideLine.height(),
                 text2->document()->documentLayout()->blockBoundingRect(first.next()).height());
        QVERIFY(first.layout()->lineAt(0).naturalTextWidth() > text2->viewport()->width());
        QTRY_VERIFY(text2->horizontalScrollBar()->maximum() > 0);
        QTRY_VERIFY(text2->verticalScrollBar()->maximum() > 0);
        text2->horizontalScrollBar()->setValue(text2->horizontalScrollBar()->maximum());
        text2->verticalScrollBar()->setValue(text2->verticalScrollBar()->maximum());
        QCOMPARE(text2->horizontalScrollBar()->value(), text2->horizontalScrollBar()->maximum());
        QCOMPARE(text2->verticalScrollBar()->value(), text2->verticalScrollBar()->maximum());
    }

    void readOnlyBoxesRefuseTypingButAllowCopying_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("message window") << QStringLiteral("Text2");
        QTest::newRow("outmessage") << QStringLiteral("outmessage");
    }

    void readOnlyBoxesRefuseTypingButAllowCopying() {
        QFETCH(QString, name);
        WindowFixture fixture;
        QVERIFY(fixture.start());
        MainForm& form = fixture.form();
        auto* outmessage = fixture.control<QLineEdit>("outmessage");
        QVERIFY(outmessage->isReadOnly());
        form.messageWindow().appendLine("12.5");
        form.messageWindow().appendLine("ACK");
        outmessage->setText(QStringLiteral("7 30 31 52 44 46 45 3"));

        QWidget* box = fixture.control<QWidget>(name.toLatin1().constData());
        auto text = [&] {
            return name == QLatin1String("outmessage") ? outmessage->text()
                                                       : form.messageWindow().text();
        };
        const QString before = text();
        QVERIFY(!before.isEmpty());
        QTest::mouseClick(box == outmessage ? box : static_cast<QPlainTextEdit*>(box)->viewport(),
                          Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget(), box);
        QTest::keyClicks(box, QStringLiteral("typed"));
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClick(box, Qt::Key_Home);
        QTest::keyClick(box, Qt::Key_Delete);
        QCOMPARE(text(), before);

        // Selecting all by keyboard and copying puts the text on the clipboard.
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
        QString expected = before;
        expected.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        if (expected.endsWith(QLatin1Char('\n')))
            expected.chop(1); // the window's text ends with the line break after the last item
        QString copied = QGuiApplication::clipboard()->text();
        if (copied.endsWith(QLatin1Char('\n')))
            copied.chop(1);
        QCOMPARE(copied, expected);
        // Cutting is no way around read-only either.
        QTest::keyClick(box, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(text(), before);
        QVERIFY(fixture.record().messages.isEmpty());
    }
};

QTEST_MAIN(TestMainFormLayout)
#include "tst_main_form_layout.moc"
