#include "app/infobox.h"
#include "app/main_form.h"
#include "app/message_window.h"
#include "links/serial_link.h"
#include "links/udp_link.h"
#include "settings/settings_file.h"
#include "support/focus_walk.h"
#include "support/option_buttons.h"
#include "support/settings_files.h"
#include "support/window_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

using vmx::MainForm;
using vmx::Settings;
using vmx::test::focusName;
using vmx::test::focusOn;
using vmx::test::tabWalk;
using vmx::test::WindowFixture;

namespace {

Settings com1At9600E71() {
    return vmx::test::optionCodes(1, 3, 0);
}

void fillMessageWindow(MainForm& form) {
    vmx::test::messageWindow(form).appendLine("12.5");
    vmx::test::messageWindow(form).appendLine("ACK");
    vmx::test::messageWindow(form).flush();
}

// What a message box showed, read while it was open.
struct SeenBox {
    bool seen = false;
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::Critical;
    int buttons = 0;
    bool okIsTheButton = false;
};

// Waits for the next modal message box, notes what it shows and presses its OK button.
// The poll lives no longer than `owner`.
void answerNextBox(QObject* owner, SeenBox& seen) {
    auto* poll = new QTimer(owner);
    poll->setInterval(10);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, [poll, started, &seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            if (started->elapsed() > 5000)
                poll->deleteLater();
            return;
        }
        poll->stop();
        poll->deleteLater();
        seen.seen = true;
        seen.text = box->text();
        seen.title = box->windowTitle();
        seen.icon = box->icon();
        seen.buttons = int(box->buttons().size());
        QAbstractButton* ok = box->button(QMessageBox::Ok);
        seen.okIsTheButton = ok && box->buttons().contains(ok);
        if (ok)
            QTest::mouseClick(ok, Qt::LeftButton);
        else
            box->reject();
    });
    poll->start();
}

// A window with the program's own message boxes, active, the focus on its first tab stop; only
// the end of the program is recorded.
bool startWithMessageBoxes(WindowFixture& window) {
    return window.start(com1At9600E71()) && QTest::qWaitForWindowActive(&window.form()) &&
           QApplication::focusWidget() != nullptr;
}

} // namespace

class TestMainFormKeyboard : public QObject {
    Q_OBJECT
private slots:
    void tabOrder_data() {
        QTest::addColumn<float>("port");
        QTest::addColumn<float>("baud");
        QTest::addColumn<float>("format");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QStringList>("forward");

        // "Com1", "9600", SEND, command, EXIT, address, message window, outmessage, CLEAR, "E71".
        QTest::newRow("COM1 9600 E71")
            << 1.0f << 3.0f << 0.0f << QStringLiteral("Option1")
            << QStringList{"Option7", "Command1",   "xxx",      "exitgomb", "Text1",
                           "Text2",   "outmessage", "Command2", "Option10", "Option1"};
        // With Udp chosen the port group follows CLEAR, and the shown IP fields come with it.
        QTest::newRow("UDP 9600 E71")
            << 99.0f << 3.0f << 0.0f << QStringLiteral("Option7")
            << QStringList{"Command1", "xxx",     "exitgomb", "Text1", "Text2",    "outmessage",
                           "Command2", "Option9", "Text3",    "Text4", "Option10", "Option7"};
        QTest::newRow("COM4 1200 N81")
            << 4.0f << 1.0f << 1.0f << QStringLiteral("Option4")
            << QStringList{"Option5", "Command1",   "xxx",      "exitgomb", "Text1",
                           "Text2",   "outmessage", "Command2", "Option11", "Option4"};
    }

    void tabOrder() {
        QFETCH(float, port);
        QFETCH(float, baud);
        QFETCH(float, format);
        QFETCH(QString, first);
        QFETCH(QStringList, forward);

        WindowFixture fixture;
        QVERIFY(fixture.start(vmx::test::optionCodes(port, baud, format)));
        QCOMPARE(focusName(), first);
        QCOMPARE(fixture.record().endCount, 0);

        // EXIT's focus-in ends the run; the recorded end lets the walk go on past it.
        QStringList reached;
        for (const QString& expected : forward) {
            reached += tabWalk(1, true);
            QCOMPARE(fixture.record().endCount,
                     reached.contains(QLatin1String("exitgomb")) ? 1 : 0);
            if (reached.last() != expected)
                break;
        }
        QCOMPARE(reached, forward);

        // Shift+Tab runs the same chain backward from the first stop.
        QStringList backward = forward;
        std::reverse(backward.begin(), backward.end());
        backward.removeFirst();
        backward << first;
        QCOMPARE(tabWalk(int(backward.size()), false), backward);
        QVERIFY(fixture.record().messages.isEmpty());
    }

    void tabFromTheCommandBoxSavesAndEnds() {
        WindowFixture fixture;
        QVERIFY(fixture.start(com1At9600E71()));
        // Com1 -> 9600 -> SEND -> command box.
        QCOMPARE(tabWalk(3, true), (QStringList{"Option7", "Command1", "xxx"}));
        auto* command = fixture.control<QLineEdit>("xxx");
        command->selectAll();
        QTest::keyClicks(command, QStringLiteral("PING"));
        QCOMPARE(command->text(), QStringLiteral("PING"));
        QCOMPARE(fixture.record().endCount, 0);

        QCOMPARE(tabWalk(1, true), QStringList{"exitgomb"});
        QCOMPARE(fixture.record().endCount, 1);
        const auto bytes = vmx::readSettingsBytes(vmx::test::kIniName);
        QVERIFY(bytes);
        Settings saved;
        QVERIFY(vmx::decodeSettings(*bytes, saved));
        QCOMPARE(saved.iniCommand, QStringLiteral("PING"));
        QCOMPARE(saved.iniPort, 1.0f);
        QCOMPARE(saved.iniBaud, 3.0f);
    }

    void backtabFromTheAddressBoxEnds() {
        WindowFixture fixture;
        QVERIFY(fixture.start(com1At9600E71()));
        auto* address = fixture.control<QLineEdit>("Text1");
        QTest::mouseClick(address, Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget(), address);
        QCOMPARE(fixture.record().endCount, 0);
        QCOMPARE(tabWalk(1, false), QStringList{"exitgomb"});
        QCOMPARE(fixture.record().endCount, 1);
        QVERIFY(QFile::exists(vmx::test::kIniName));
    }

    void unchosenOptionTakesFocusAndChoiceByMouse() {
        WindowFixture fixture;
        QVERIFY(fixture.start(com1At9600E71()));
        auto* com3 = fixture.control<QRadioButton>("Option3");
        QVERIFY(!com3->isChecked());
        QTest::mouseClick(com3, Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget(), com3);
        QVERIFY(com3->isChecked());
        QVERIFY(!fixture.control<QRadioButton>("Option1")->isChecked());
        QCOMPARE(vmx::test::portSelect(fixture.form()), 2.0f);
        // The chosen button is now the port group's stop.
        QCOMPARE(tabWalk(1, true), QStringList{"Option7"});
        QCOMPARE(tabWalk(1, false), QStringList{"Option3"});
        QCOMPARE(tabWalk(1, false), QStringList{"Option10"});
    }

    void enterPressesSendOnce_data() {
        QTest::addColumn<float>("port");
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("message");

        const int none = int(Qt::NoModifier);
        const int keypad = int(Qt::KeypadModifier);
        const QString com = vmx::kComPortError;
        const QString udp = vmx::kUdpConnectionError;
        for (const char* control :
             {"xxx", "Text1", "Text2", "outmessage", "Option1", "Option7", "Option10"}) {
            QTest::addRow("Return in %s", control)
                << 1.0f << QString::fromLatin1(control) << int(Qt::Key_Return) << none << com;
            QTest::addRow("keypad Enter in %s", control)
                << 1.0f << QString::fromLatin1(control) << int(Qt::Key_Enter) << keypad << com;
        }
        for (const char* control : {"Text3", "Text4", "Option9"}) {
            QTest::addRow("Return in %s", control)
                << 99.0f << QString::fromLatin1(control) << int(Qt::Key_Return) << none << udp;
            QTest::addRow("keypad Enter in %s", control)
                << 99.0f << QString::fromLatin1(control) << int(Qt::Key_Enter) << keypad << udp;
        }
    }

    // SEND is the default button: Enter in a text box or on an option button runs it once. The
    // links lead nowhere here, so each run shows exactly one link error.
    void enterPressesSendOnce() {
        QFETCH(float, port);
        QFETCH(QString, control);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, message);

        WindowFixture fixture;
        QVERIFY(fixture.start(vmx::test::optionCodes(port, 3, 0)));
        MainForm& form = fixture.form();
        fillMessageWindow(form);
        auto* send = fixture.control<QPushButton>("Command1");
        QSignalSpy sendClicks(send, &QPushButton::clicked);
        QWidget* target = fixture.control<QWidget>(control.toLatin1().constData());
        QVERIFY(focusOn(target));

        const auto texts = [&fixture] {
            QStringList all;
            for (const char* name : {"xxx", "Text1", "Text3", "Text4", "outmessage"})
                all << fixture.box(name)->text();
            return all << fixture.messageText();
        };
        const QStringList before = texts();
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(sendClicks.count(), 1);
        QCOMPARE(fixture.record().messages, QStringList{message});
        QCOMPARE(QApplication::focusWidget(), target);
        QCOMPARE(texts(), before);

        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(sendClicks.count(), 2);
        QCOMPARE(fixture.record().messages, (QStringList{message, message}));
    }

    void keyOnPushButtonPressesThatButton_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        for (const char* button : {"Command1", "Command2", "exitgomb"}) {
            QTest::addRow("Return on %s", button)
                << QString::fromLatin1(button) << int(Qt::Key_Return);
            QTest::addRow("Enter on %s", button)
                << QString::fromLatin1(button) << int(Qt::Key_Enter);
            QTest::addRow("Space on %s", button)
                << QString::fromLatin1(button) << int(Qt::Key_Space);
        }
    }

    void keyOnPushButtonPressesThatButton() {
        QFETCH(QString, button);
        QFETCH(int, key);
        WindowFixture fixture;
        QVERIFY(fixture.start(com1At9600E71()));
        MainForm& form = fixture.form();
        auto* pressed = fixture.control<QPushButton>(button.toLatin1().constData());
        auto* send = fixture.control<QPushButton>("Command1");
        QSignalSpy pressedClicks(pressed, &QPushButton::clicked);
        QSignalSpy sendClicks(send, &QPushButton::clicked);
        QVERIFY(focusOn(pressed));
        // Focus on EXIT has already ended the run; pressing it again ends nothing more.
        const int endsBefore = fixture.record().endCount;
        QCOMPARE(endsBefore, button == QLatin1String("exitgomb") ? 1 : 0);
        fillMessageWindow(form);

        const Qt::KeyboardModifiers modifiers =
            key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
        QTest::keyClick(pressed, Qt::Key(key), modifiers);
        QCOMPARE(pressedClicks.count(), 1);
        QCOMPARE(QApplication::focusWidget(), pressed);
        if (button == QLatin1String("Command1")) {
            QCOMPARE(fixture.record().messages, QStringList{vmx::kComPortError});
            QCOMPARE(fixture.messageText(), QStringLiteral("12.5\r\nACK\r\n"));
        } else if (button == QLatin1String("Command2")) {
            QCOMPARE(sendClicks.count(), 0);
            QVERIFY(fixture.record().messages.isEmpty());
            QCOMPARE(fixture.messageText(), QString());
        } else {
            QCOMPARE(sendClicks.count(), 0);
            QVERIFY(fixture.record().messages.isEmpty());
            QCOMPARE(fixture.record().endCount, 1);
        }
    }

    void clearButtonEmptiesOnFocusAndOnClick() {
        WindowFixture fixture;
        QVERIFY(fixture.start(com1At9600E71()));
        MainForm& form = fixture.form();
        auto* clear = fixture.control<QPushButton>("Command2");
        QSignalSpy clicks(clear, &QPushButton::clicked);

        // By keyboard: Tab from outmessage onto the button, no click.
        QVERIFY(focusOn(fixture.control<QLineEdit>("outmessage")));
        fillMessageWindow(form);
        QCOMPARE(tabWalk(1, true), QStringList{"Command2"});
        QCOMPARE(fixture.messageText(), QString());
        QCOMPARE(clicks.count(), 0);

        // Clicking the button that already has the focus: the click alone empties it.
        fillMessageWindow(form);
        QTest::mouseClick(clear, Qt::LeftButton);
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(fixture.messageText(), QString());

        // Clicking it from elsewhere.
        QVERIFY(focusOn(fixture.control<QLineEdit>("xxx")));
        fillMessageWindow(form);
        QTest::mouseClick(clear, Qt::LeftButton);
        QCOMPARE(clicks.count(), 2);
        QCOMPARE(QApplication::focusWidget(), clear);
        QCOMPARE(fixture.messageText(), QString());
        QVERIFY(fixture.record().messages.isEmpty());
    }

    void focusLeavingSendStaysWhereItWent() {
        WindowFixture fixture;
        QVERIFY(fixture.start(com1At9600E71()));
        auto* send = fixture.control<QPushButton>("Command1");
        auto* address = fixture.control<QLineEdit>("Text1");
        QTest::mouseClick(send, Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget(), send);
        QCOMPARE(fixture.record().messages, QStringList{vmx::kComPortError});

        QTest::mouseClick(address, Qt::LeftButton, {}, QPoint(2, address->height() / 2));
        QTRY_COMPARE(QApplication::focusWidget(), address);
        QCoreApplication::processEvents();
        QCOMPARE(QApplication::focusWidget(), address);
        QCOMPARE(address->text(), QStringLiteral("2"));
        QVERIFY(!address->hasSelectedText());
        QCOMPARE(address->cursorPosition(), 0);
        QCOMPARE(fixture.record().messages.size(), 1);

        // Leaving SEND by keyboard as well.
        QVERIFY(focusOn(send));
        QCOMPARE(tabWalk(1, false), QStringList{"Option7"});
        QCoreApplication::processEvents();
        QCOMPARE(focusName(), QStringLiteral("Option7"));
        QCOMPARE(fixture.record().messages.size(), 1);
    }

    void messageBoxGivesTheFocusBack_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        QTest::newRow("Return in the command box") << QStringLiteral("xxx") << int(Qt::Key_Return);
        QTest::newRow("Return in the address box")
            << QStringLiteral("Text1") << int(Qt::Key_Return);
        QTest::newRow("Enter in the message window")
            << QStringLiteral("Text2") << int(Qt::Key_Enter);
        QTest::newRow("Return on Com1") << QStringLiteral("Option1") << int(Qt::Key_Return);
        QTest::newRow("Space on SEND") << QStringLiteral("Command1") << int(Qt::Key_Space);
    }

    // The program's own message box: modal, caption "Velmarixon", no icon, one OK button; when
    // it closes the control that had the focus has it again.
    void messageBoxGivesTheFocusBack() {
        QFETCH(QString, control);
        QFETCH(int, key);
        WindowFixture window(vmx::kReplyTimeout, vmx::test::MessageBoxes::Shown);
        QVERIFY(startWithMessageBoxes(window));
        QWidget* target = window.control<QWidget>(control.toLatin1().constData());
        QVERIFY(focusOn(target));

        SeenBox seen;
        answerNextBox(&window.form(), seen);
        QTest::keyClick(target, Qt::Key(key),
                        key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QVERIFY(seen.seen);
        QCOMPARE(seen.text, QStringLiteral("COM Port error"));
        QCOMPARE(seen.title, QStringLiteral("Velmarixon"));
        QCOMPARE(seen.icon, QMessageBox::NoIcon);
        QCOMPARE(seen.buttons, 1);
        QVERIFY(seen.okIsTheButton);
        QVERIFY(!QApplication::activeModalWidget());
        QTRY_COMPARE(QApplication::activeWindow(), &window.form());
        QTRY_COMPARE(QApplication::focusWidget(), target);
        QCOMPARE(window.record().endCount, 0);
    }

    void focusComingBackIsNoNewFocus_data() {
        QTest::addColumn<QString>("detour");
        QTest::newRow("message box") << QStringLiteral("message box");
        QTest::newRow("Info menu") << QStringLiteral("menu");
        QTest::newRow("about box") << QStringLiteral("about box");
    }

    // The focus that returns to CLEAR after a message box, the menu or another window is the
    // focus it already had: the message window keeps its lines.
    void focusComingBackIsNoNewFocus() {
        QFETCH(QString, detour);
        WindowFixture window(vmx::kReplyTimeout, vmx::test::MessageBoxes::Shown);
        QVERIFY(startWithMessageBoxes(window));
        MainForm& form = window.form();
        auto* clear = window.control<QPushButton>("Command2");
        QVERIFY(focusOn(clear));
        fillMessageWindow(form);
        const QString lines = window.messageText();

        if (detour == QLatin1String("message box")) {
            SeenBox seen;
            answerNextBox(&window.form(), seen);
            vmx::showModalMessage(&form, QStringLiteral(" Communication fail with device"));
            QVERIFY(seen.seen);
        } else if (detour == QLatin1String("menu")) {
            QMenu* help = form.findChild<QMenu*>(QStringLiteral("help"));
            QMenuBar* bar = form.menuBar();
            QTest::mouseClick(bar, Qt::LeftButton, {},
                              bar->actionGeometry(help->menuAction()).center());
            QTRY_VERIFY(help->isVisible());
            QTest::keyClick(help, Qt::Key_Escape);
            QTRY_VERIFY(!help->isVisible());
            if (QApplication::focusWidget() != clear)
                QTest::keyClick(bar, Qt::Key_Escape);
        } else {
            form.findChild<QAction*>(QStringLiteral("help_about"))->trigger();
            QTRY_VERIFY(vmx::test::infobox() && vmx::test::infobox()->isActiveWindow());
            form.activateWindow();
        }
        QTRY_COMPARE(QApplication::activeWindow(), &form);
        QTRY_COMPARE(QApplication::focusWidget(), clear);
        QCOMPARE(window.messageText(), lines);
        QCOMPARE(window.record().endCount, 0);
    }
};

QTEST_MAIN(TestMainFormKeyboard)
#include "tst_main_form_keyboard.moc"
