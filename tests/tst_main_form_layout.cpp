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

        auto row = [](const char* name, const char* kind, const char* container,
                      const char* caption) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind)
                                << QString::fromLatin1(container) << QString::fromLatin1(caption);
        };
        row("Frame1", "QGroupBox", "client", "Port number");
        row("Option1", "QRadioButton", "Frame1", "Com1");
        row("Option2", "QRadioButton", "Frame1", "Com2");
        row("Option3", "QRadioButton", "Frame1", "Com3");
        row("Option4", "QRadioButton", "Frame1", "Com4");
        row("Frame2", "QGroupBox", "client", "Baud rate");
        row("Option5", "QRadioButton", "Frame2", "1200");
        row("Option6", "QRadioButton", "Frame2", "2400");
        row("Option7", "QRadioButton", "Frame2", "9600");
        row("Option8", "QRadioButton", "Frame2", "19200");
        row("Command1", "QPushButton", "client", "SEND");
        row("xxx", "QLineEdit", "client", "RD");
        row("Label1", "QLabel", "client", "COMMAND:");
        row("exitgomb", "QPushButton", "client", "EXIT");
        row("Label2", "QLabel", "client", "ADDRESS:");
        row("Text1", "QLineEdit", "client", "02");
        row("Text2", "QPlainTextEdit", "client", "");
        row("outmessage", "QLineEdit", "client", "");
        row("Label3", "QLabel", "client", "MESSAGE");
        row("Command2", "QPushButton", "client", "CLEAR MESSAGE WINDOW");
        row("Option9", "QRadioButton", "Frame1", "Udp");
        row("Label4", "QLabel", "client", "IP ADDRESS");
        row("Text3", "QLineEdit", "client", "");
        row("Label5", "QLabel", "client", "PORT");
        row("Text4", "QLineEdit", "client", "");
        row("Frame3", "QGroupBox", "client", "Format");
        row("Option10", "QRadioButton", "Frame3", "E71");
        row("Option11", "QRadioButton", "Frame3", "N81");
    }

    // Name, kind, container and caption or initial text, as the window is created.
    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, container);
        QFETCH(QString, caption);

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

    // The controls on the client area never cover one another (the option buttons inside a
    // frame do by a line, as the stored layout has them).
    void noControlsOverlap() {
        WindowFixture fixture;
        const QList<QWidget*> parents{fixture.form().centralWidget()};
        for (QWidget* parent : parents) {
            QList<QWidget*> named;
            for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (!child->objectName().isEmpty())
                    named.append(child);
            for (qsizetype a = 0; a < named.size(); ++a)
                for (qsizetype b = a + 1; b < named.size(); ++b)
                    QVERIFY2(!named[a]->geometry().intersects(named[b]->geometry()),
                             qPrintable(named[a]->objectName() + u'/' + named[b]->objectName()));
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
        QVERIFY(!vmx::test::serialPortOpen(form));
        QVERIFY(!vmx::test::udpSocketSetUp(form));
        QCOMPARE(vmx::test::serialLink(form).objectName(), QStringLiteral("MSComm1"));
        QCOMPARE(vmx::test::udpLink(form).objectName(), QStringLiteral("Winsock1"));
        // The timer is enabled with interval 0: it does not fire until SEND gives it a period.
        QVERIFY(!vmx::test::watchdog(form).isRunning());
        QVERIFY(!vmx::test::watchdog(form).isRunning());
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
            vmx::test::messageWindow(fixture.form())
                .appendLine(i == 0 ? wide : QByteArray::number(i));
        vmx::test::messageWindow(fixture.form()).flush();
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
        vmx::test::messageWindow(form).appendLine("12.5");
        vmx::test::messageWindow(form).appendLine("ACK");
        outmessage->setText(QStringLiteral("7 30 31 52 44 46 45 3"));

        QWidget* box = fixture.control<QWidget>(name.toLatin1().constData());
        auto text = [&] {
            return name == QLatin1String("outmessage") ? outmessage->text()
                                                       : vmx::test::messageWindow(form).text();
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
