#include "app/infobox.h"
#include "app/main_form.h"
#include "support/focus_walk.h"
#include "support/window_fixture.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleHints>
#include <QStyleOptionFrame>
#include <QTest>

using vmx::Infobox;
using vmx::test::focusName;
using vmx::test::tabWalk;
using vmx::test::WindowFixture;

namespace {

// How the operator leaves the about box before choosing "About" again.
enum class LeaveBy { StayingOpen, Ok, CloseBox, CloseBoxThenAboutAtOnce };

// Where a line box draws its text: inside its frame and margins, less the 2 pixels QLineEdit
// keeps free on either side.
QRect textRoom(QLineEdit* edit) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth = edit->hasFrame()
                           ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
                           : 0;
    const QRect contents =
        edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    return contents.marginsRemoved(edit->textMargins()).adjusted(2, 0, -2, 0);
}

void chooseAbout(WindowFixture& fixture) {
    fixture.form().findChild<QAction*>(QStringLiteral("help_about"))->trigger();
}

QList<Infobox*> aboutBoxes() {
    QList<Infobox*> boxes;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<Infobox*>(window))
            boxes << box;
    return boxes;
}

// The about box as the operator meets it: shown, active, the focus on its name text. The window
// is started first unless it is already shown.
Infobox* openAbout(WindowFixture& fixture) {
    if (!fixture.form().isVisible() && !fixture.start())
        return nullptr;
    chooseAbout(fixture);
    Infobox* box = vmx::test::infobox();
    if (!box || !QTest::qWaitForWindowActive(box))
        return nullptr;
    if (!QTest::qWaitFor([&] { return QApplication::focusWidget() == box->nameText(); }, 2000))
        return nullptr;
    return box;
}

// The inside of a text box, without the frame that marks the focus.
QImage textArea(QLineEdit* edit) {
    const QImage whole = edit->grab().toImage();
    const qreal ratio = whole.devicePixelRatio();
    const QRect inner = edit->rect().adjusted(4, 4, -4, -4);
    return whole.copy(QRect(inner.topLeft() * ratio, inner.size() * ratio));
}

// Renderings of a focused box at two moments half a blink period apart: a blinking caret is
// drawn in at least one of them.
QList<QImage> acrossBlink(QLineEdit* edit) {
    QList<QImage> images{textArea(edit)};
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    QTest::qWait(flash > 0 ? flash / 2 + 120 : 50);
    images << textArea(edit);
    return images;
}

bool anyDiffers(const QList<QImage>& images, const QImage& reference) {
    for (const QImage& image : images)
        if (image != reference)
            return true;
    return false;
}

} // namespace

class TestInfobox : public QObject {
    Q_OBJECT
private slots:
    // The about box as the operator meets it: a window of its own with a caption and a close box
    // only, of a fixed size, whole on the screen; its two texts and OK inside it, apart from one
    // another, each caption readable whole.
    void layoutKeepsEveryCaptionReadable() {
        WindowFixture fixture;
        QVERIFY(fixture.start());
        QVERIFY(!vmx::test::infobox()); // created on first use
        Infobox* box = openAbout(fixture);
        QVERIFY(box);
        QCOMPARE(box->windowTitle(), QStringLiteral("info"));
        QVERIFY(box->isWindow());
        QVERIFY(!box->parentWidget()); // no owner window
        const Qt::WindowFlags flags = box->windowFlags();
        QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(box->minimumSize(), box->maximumSize());
        QCOMPARE(box->size(), box->minimumSize());
        QVERIFY(box->screen()->geometry().contains(box->geometry()));
        QCOMPARE(box->nameText()->text(), QStringLiteral("Velmarixon V 1.14"));
        QCOMPARE(box->typeText()->text(), QStringLiteral("Type number: KD-472"));
        QCOMPARE(box->okButton()->text(), QStringLiteral("OK"));

        const QList<QWidget*> controls{box->nameText(), box->typeText(), box->okButton()};
        for (qsizetype a = 0; a < controls.size(); ++a) {
            QWidget* control = controls[a];
            const QByteArray name = control->objectName().toLatin1();
            QCOMPARE(control->parentWidget(), box);
            QVERIFY2(control->isVisible(), name.constData());
            QVERIFY2(box->rect().contains(control->geometry()), name.constData());
            for (qsizetype b = a + 1; b < controls.size(); ++b)
                QVERIFY2(!control->geometry().intersects(controls[b]->geometry()),
                         name.constData());
        }
        for (QLineEdit* text : {box->nameText(), box->typeText()}) {
            QVERIFY(text->isReadOnly());
            QVERIFY(text->alignment() & Qt::AlignHCenter);
            const QFontMetrics metrics(text->font());
            const QRect room = textRoom(text);
            QVERIFY2(metrics.horizontalAdvance(text->text()) <= room.width(),
                     qPrintable(text->text()));
            QVERIFY2(metrics.height() <= room.height(), qPrintable(text->text()));
        }
        QPushButton* ok = box->okButton();
        QVERIFY(ok->sizeHint().width() <= ok->width());
        QVERIFY(ok->sizeHint().height() <= ok->height());
    }

    // Modeless: the main window stays usable with the about box open.
    void modelessWithFocusOnTheName() {
        WindowFixture fixture;
        Infobox* box = openAbout(fixture);
        QVERIFY(box);
        QCOMPARE(focusName(), QStringLiteral("Text1"));
        QVERIFY(!box->isModal());
        QVERIFY(!QApplication::activeModalWidget());

        auto* clear = fixture.control<QPushButton>("Command2");
        QSignalSpy clicks(clear, &QPushButton::clicked);
        QTest::mouseClick(clear, Qt::LeftButton);
        QCOMPARE(clicks.count(), 1);
        QTest::mouseClick(fixture.control<QLineEdit>("xxx"), Qt::LeftButton);
        QTest::keyClicks(fixture.control<QLineEdit>("xxx"), QStringLiteral("X"));
        QVERIFY(fixture.control<QLineEdit>("xxx")->text().contains(QLatin1Char('X')));
        QVERIFY(box->isVisible());
    }

    void tabOrderInside() {
        WindowFixture fixture;
        Infobox* box = openAbout(fixture);
        QVERIFY(box);
        QCOMPARE(tabWalk(3, true), (QStringList{"Text2", "Command1", "Text1"}));
        QCOMPARE(tabWalk(3, false), (QStringList{"Command1", "Text2", "Text1"}));
        QVERIFY(box->isVisible());
        // Tabbing inside the about box never reaches the main window's controls.
        QCOMPARE(fixture.record().endCount, 0);
    }

    void okHidesTheBox_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("click") << QStringLiteral("click");
        QTest::newRow("Return") << QStringLiteral("Return");
        QTest::newRow("keypad Enter") << QStringLiteral("Enter");
        QTest::newRow("Space") << QStringLiteral("Space");
    }

    void okHidesTheBox() {
        QFETCH(QString, how);
        WindowFixture fixture;
        Infobox* box = openAbout(fixture);
        QVERIFY(box);
        QPushButton* ok = box->okButton();
        if (how == QLatin1String("click")) {
            QTest::mouseClick(ok, Qt::LeftButton);
        } else {
            QTest::keyClick(box->nameText(), Qt::Key_Tab);
            QTest::keyClick(box->typeText(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), ok);
            if (how == QLatin1String("Return"))
                QTest::keyClick(ok, Qt::Key_Return);
            else if (how == QLatin1String("Enter"))
                QTest::keyClick(ok, Qt::Key_Enter, Qt::KeypadModifier);
            else
                QTest::keyClick(ok, Qt::Key_Space);
        }
        QVERIFY(box->isHidden());
        QCoreApplication::processEvents();
        QCOMPARE(vmx::test::infobox(), box); // hidden, not gone
        QCOMPARE(aboutBoxes().size(), 1);
        QVERIFY(fixture.form().isVisible());
        QCOMPARE(fixture.record().endCount, 0);
        QVERIFY(fixture.record().messages.isEmpty());
    }

    void textsRefuseTyping() {
        WindowFixture fixture;
        Infobox* box = openAbout(fixture);
        QVERIFY(box);
        for (QLineEdit* edit : {box->nameText(), box->typeText()}) {
            const QString before = edit->text();
            edit->setFocus(Qt::MouseFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), edit);
            QTest::keyClicks(edit, QStringLiteral("typed"));
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClick(edit, Qt::Key_Home);
            QTest::keyClick(edit, Qt::Key_Delete);
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_Return);
            QCOMPARE(edit->text(), before);
        }
        QVERIFY(box->isVisible());
    }

    // "About" once more after the box was moved: while it is shown, the same box as it is; after
    // OK, the same box where it was left; after the close box, whether or not the closed box has
    // gone yet, one new box at the place where the first one opened.
    void aboutAgain_data() {
        QTest::addColumn<LeaveBy>("leave");
        QTest::newRow("shown, About twice") << LeaveBy::StayingOpen;
        QTest::newRow("hidden by OK") << LeaveBy::Ok;
        QTest::newRow("closed by its close box") << LeaveBy::CloseBox;
        QTest::newRow("About before the closed box has gone") << LeaveBy::CloseBoxThenAboutAtOnce;
    }

    void aboutAgain() {
        QFETCH(LeaveBy, leave);
        WindowFixture fixture;
        Infobox* box = openAbout(fixture);
        QVERIFY(box);
        const QRect initial = box->geometry();
        box->move(120, 250);
        QTRY_COMPARE(box->pos(), QPoint(120, 250));
        const QRect moved = box->geometry();
        QVERIFY(moved.topLeft() != initial.topLeft());
        QSignalSpy destroyed(box, &QObject::destroyed);

        switch (leave) {
        case LeaveBy::StayingOpen:
            box->typeText()->setFocus(Qt::TabFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), box->typeText());
            fixture.form().activateWindow();
            QTRY_VERIFY(fixture.form().isActiveWindow());
            chooseAbout(fixture);
            chooseAbout(fixture);
            QCoreApplication::processEvents();
            QCOMPARE(vmx::test::infobox(), box);
            QCOMPARE(aboutBoxes(), QList<Infobox*>{box});
            QVERIFY(box->isVisible());
            QCOMPARE(box->geometry(), moved);
            QCOMPARE(box->focusWidget(), box->typeText());
            break;
        case LeaveBy::Ok:
            QTest::mouseClick(box->okButton(), Qt::LeftButton);
            QVERIFY(box->isHidden());
            // The window system hands the activation back to the main window.
            fixture.form().activateWindow();
            QTRY_VERIFY(fixture.form().isActiveWindow());
            QCOMPARE(openAbout(fixture), box);
            QCOMPARE(box->geometry(), moved);
            QCOMPARE(aboutBoxes().size(), 1);
            break;
        case LeaveBy::CloseBox: {
            QVERIFY(box->close());
            QTRY_COMPARE(destroyed.count(), 1);
            QVERIFY(!vmx::test::infobox());
            QVERIFY(aboutBoxes().isEmpty());
            QVERIFY(fixture.form().isVisible());
            QCOMPARE(fixture.record().endCount, 0);
            Infobox* again = openAbout(fixture);
            QVERIFY(again);
            QCOMPARE(again->geometry(), initial);
            QCOMPARE(again->nameText()->text(), QStringLiteral("Velmarixon V 1.14"));
            QCOMPARE(aboutBoxes(), QList<Infobox*>{again});
            break;
        }
        case LeaveBy::CloseBoxThenAboutAtOnce:
            QVERIFY(box->close());
            chooseAbout(fixture);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
            QTRY_VERIFY(vmx::test::infobox() && vmx::test::infobox()->isVisible());
            QCOMPARE(aboutBoxes().size(), 1);
            QCOMPARE(vmx::test::infobox()->geometry(), initial);
            break;
        }
    }

    void noCaretInTheTexts() {
        WindowFixture fixture;
        Infobox* box = openAbout(fixture);
        QVERIFY(box);
        QLineEdit* name = box->nameText();
        QLineEdit* type = box->typeText();
        const QImage typeUnfocused = textArea(type);

        // The name text has the focus as the box opens.
        QCOMPARE(QApplication::focusWidget(), name);
        const QList<QImage> nameFocused = acrossBlink(name);

        // Tab to the type text; what Tab selects is taken away so only a caret could remain.
        QTest::keyClick(name, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), type);
        type->deselect();
        const QList<QImage> typeFocused = acrossBlink(type);
        const QImage nameUnfocused = textArea(name);

        QVERIFY(!anyDiffers(nameFocused, nameUnfocused));
        QVERIFY(!anyDiffers(typeFocused, typeUnfocused));

        // The same look at an editable box does see its caret.
        name->setFocus(Qt::OtherFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), name);
        name->setReadOnly(false);
        const QList<QImage> editable = acrossBlink(name);
        name->setReadOnly(true);
        QVERIFY(anyDiffers(editable, nameUnfocused));
    }

    void exitClosesTheAboutBox() {
        WindowFixture fixture;
        Infobox* box = openAbout(fixture);
        QVERIFY(box);
        QSignalSpy destroyed(box, &QObject::destroyed);
        QTest::mouseClick(fixture.control<QPushButton>("exitgomb"), Qt::LeftButton);
        QCOMPARE(fixture.record().endCount, 1);
        QTRY_COMPARE(destroyed.count(), 1);
        QVERIFY(aboutBoxes().isEmpty());
    }
};

QTEST_MAIN(TestInfobox)
#include "tst_infobox.moc"
