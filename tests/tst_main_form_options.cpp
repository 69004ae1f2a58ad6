#include "app/main_form.h"
#include "support/option_buttons.h"
#include "support/window_fixture.h"

#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

using vmx::MainForm;
using vmx::test::chosenOptions;
using vmx::test::ipFieldsShown;
using vmx::test::kIpFields;
using vmx::test::optionCodes;
using vmx::test::WindowFixture;

namespace {

struct Selectors {
    float port;
    float baud;
    float format;
};

void compareSelectors(const MainForm& form, Selectors expected) {
    QCOMPARE(vmx::test::portSelect(form), expected.port);
    QCOMPARE(vmx::test::baudSelect(form), expected.baud);
    QCOMPARE(vmx::test::comFormat(form), expected.format);
}

} // namespace

Q_DECLARE_METATYPE(Selectors)

class TestMainFormOptions : public QObject {
    Q_OBJECT
private slots:
    void selectorValues_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("how");
        QTest::addColumn<Selectors>("before"); // file codes: port, baud, format
        QTest::addColumn<Selectors>("after");  // portSelect, baudSelect, comFormat
        QTest::addColumn<bool>("ipShown");
        QTest::addColumn<QStringList>("chosenAfter");

        struct Row {
            const char* button;
            const char* caption;
            Selectors before;
            Selectors after;
            bool ipShown;
            QStringList chosenAfter;
        };
        // Each row starts from another choice in the button's frame, so the selector moves.
        const Row rows[] = {
            {"Option1", "Com1", {99, 2, 1}, {0, 1, 1}, false, {"Option1", "Option6", "Option11"}},
            {"Option2", "Com2", {99, 2, 1}, {1, 1, 1}, false, {"Option2", "Option6", "Option11"}},
            {"Option3", "Com3", {99, 2, 1}, {2, 1, 1}, false, {"Option3", "Option6", "Option11"}},
            {"Option4", "Com4", {99, 2, 1}, {3, 1, 1}, false, {"Option4", "Option6", "Option11"}},
            {"Option9", "Udp", {2, 2, 1}, {99, 1, 1}, true, {"Option6", "Option9", "Option11"}},
            {"Option5", "1200", {99, 2, 1}, {99, 0, 1}, true, {"Option5", "Option9", "Option11"}},
            {"Option6", "2400", {99, 4, 1}, {99, 1, 1}, true, {"Option6", "Option9", "Option11"}},
            {"Option7", "9600", {99, 2, 1}, {99, 2, 1}, true, {"Option7", "Option9", "Option11"}},
            {"Option8", "19200", {99, 2, 1}, {99, 3, 1}, true, {"Option8", "Option9", "Option11"}},
            {"Option10", "E71", {99, 2, 1}, {99, 1, 0}, true, {"Option6", "Option9", "Option10"}},
            {"Option11", "N81", {99, 2, 0}, {99, 1, 1}, true, {"Option6", "Option9", "Option11"}},
            // Baud and format buttons leave hidden IP fields hidden as well.
            {"Option5", "1200", {3, 2, 1}, {2, 0, 1}, false, {"Option3", "Option5", "Option11"}},
            {"Option10", "E71", {3, 2, 1}, {2, 1, 0}, false, {"Option3", "Option6", "Option10"}},
        };
        for (const char* how : {"mouse", "Space key", "program"}) {
            for (const Row& row : rows) {
                QTest::addRow("%s %s from %g/%g/%g", how, row.caption, double(row.before.port),
                              double(row.before.baud), double(row.before.format))
                    << QString::fromLatin1(row.button) << QString::fromLatin1(row.caption)
                    << QString::fromLatin1(how) << row.before << row.after << row.ipShown
                    << row.chosenAfter;
            }
        }
    }

    // The handling runs however the button becomes chosen: mouse, keyboard or program.
    void selectorValues() {
        QFETCH(QString, button);
        QFETCH(QString, caption);
        QFETCH(QString, how);
        QFETCH(Selectors, before);
        QFETCH(Selectors, after);
        QFETCH(bool, ipShown);
        QFETCH(QStringList, chosenAfter);

        WindowFixture fixture;
        QVERIFY(fixture.start(optionCodes(before.port, before.baud, before.format)));
        auto* radio = fixture.control<QRadioButton>(button.toLatin1().constData());
        QCOMPARE(radio->text(), caption);
        QVERIFY(!radio->isChecked());
        QCOMPARE(ipFieldsShown(fixture.form()), before.port == 99 ? 4 : 0);

        if (how == QLatin1String("mouse")) {
            QTest::mouseClick(radio, Qt::LeftButton);
            QCOMPARE(QApplication::focusWidget(), radio);
        } else if (how == QLatin1String("Space key")) {
            radio->setFocus(Qt::MouseFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), radio);
            QTest::keyClick(radio, Qt::Key_Space);
        } else {
            radio->setChecked(true);
        }
        QVERIFY(radio->isChecked());
        compareSelectors(fixture.form(), after);
        QCOMPARE(ipFieldsShown(fixture.form()), ipShown ? 4 : 0);
        QCOMPARE(chosenOptions(fixture.form()), chosenAfter);
        // Choosing never touches a link and never says anything.
        QVERIFY(!vmx::test::serialPortOpen(fixture.form()));
        QVERIFY(!vmx::test::udpSocketSetUp(fixture.form()));
        QVERIFY(fixture.record().messages.isEmpty());
    }

    void udpThenCom3() {
        WindowFixture fixture;
        QVERIFY(fixture.start()); // first start: Com1, 19200, E71
        QCOMPARE(chosenOptions(fixture.form()), (QStringList{"Option1", "Option8", "Option10"}));
        QCOMPARE(ipFieldsShown(fixture.form()), 0);

        QTest::mouseClick(fixture.control<QRadioButton>("Option9"), Qt::LeftButton);
        compareSelectors(fixture.form(), {99, 3, 0});
        QCOMPARE(ipFieldsShown(fixture.form()), 4);
        QCOMPARE(fixture.control<QLabel>("Label4")->text(), QStringLiteral("IP ADDRESS"));
        QCOMPARE(fixture.control<QLabel>("Label5")->text(), QStringLiteral("PORT"));

        QTest::mouseClick(fixture.control<QRadioButton>("Option3"), Qt::LeftButton);
        compareSelectors(fixture.form(), {2, 3, 0});
        QCOMPARE(ipFieldsShown(fixture.form()), 0);
        QCOMPARE(chosenOptions(fixture.form()), (QStringList{"Option3", "Option8", "Option10"}));
    }

    void baudAndFormatNeverChangeIpVisibility_data() {
        QTest::addColumn<float>("port");
        QTest::newRow("UDP") << 99.0f;
        QTest::newRow("COM2") << 2.0f;
    }

    void baudAndFormatNeverChangeIpVisibility() {
        QFETCH(float, port);
        WindowFixture fixture;
        QVERIFY(fixture.start(optionCodes(port, 1, 0)));
        const int shown = port == 99 ? 4 : 0;
        QCOMPARE(ipFieldsShown(fixture.form()), shown);
        float expectedPort = port == 99 ? 99 : port - 1;
        for (const char* name :
             {"Option6", "Option11", "Option7", "Option10", "Option8", "Option5", "Option11"}) {
            QTest::mouseClick(fixture.control<QRadioButton>(name), Qt::LeftButton);
            QCOMPARE(ipFieldsShown(fixture.form()), shown);
            QCOMPARE(vmx::test::portSelect(fixture.form()), expectedPort);
        }
        compareSelectors(fixture.form(), {expectedPort, 0, 1});
    }

    void clickingTheChosenButtonChangesNothing_data() {
        QTest::addColumn<float>("port");
        QTest::addColumn<QString>("button");
        QTest::newRow("Udp") << 99.0f << QStringLiteral("Option9");
        QTest::newRow("Com3") << 3.0f << QStringLiteral("Option3");
        QTest::newRow("2400") << 3.0f << QStringLiteral("Option6");
        QTest::newRow("N81") << 99.0f << QStringLiteral("Option11");
    }

    void clickingTheChosenButtonChangesNothing() {
        QFETCH(float, port);
        QFETCH(QString, button);
        WindowFixture fixture;
        QVERIFY(fixture.start(optionCodes(port, 2, 1)));
        auto* radio = fixture.control<QRadioButton>(button.toLatin1().constData());
        QVERIFY(radio->isChecked());
        const Selectors before{vmx::test::portSelect(fixture.form()),
                               vmx::test::baudSelect(fixture.form()),
                               vmx::test::comFormat(fixture.form())};
        const QStringList chosenBefore = chosenOptions(fixture.form());
        const int shownBefore = ipFieldsShown(fixture.form());

        std::vector<std::unique_ptr<QSignalSpy>> toggles;
        for (QRadioButton* any : fixture.form().findChildren<QRadioButton*>())
            toggles.push_back(std::make_unique<QSignalSpy>(any, &QRadioButton::toggled));

        QTest::mouseClick(radio, Qt::LeftButton);
        QTest::mouseClick(radio, Qt::LeftButton);
        radio->setChecked(true);
        QTest::keyClick(radio, Qt::Key_Space);
        for (const auto& spy : toggles)
            QCOMPARE(spy->count(), 0);
        compareSelectors(fixture.form(), before);
        QCOMPARE(chosenOptions(fixture.form()), chosenBefore);
        QCOMPARE(ipFieldsShown(fixture.form()), shownBefore);
        QVERIFY(fixture.record().messages.isEmpty());
    }

    void ipTextSurvivesHidingAndShowing() {
        WindowFixture fixture;
        QVERIFY(fixture.start(optionCodes(99, 4, 0)));
        auto* address = fixture.control<QLineEdit>("Text3");
        auto* port = fixture.control<QLineEdit>("Text4");
        for (auto [box, typed] : {std::pair{address, QStringLiteral("127.0.0.9")},
                                  std::pair{port, QStringLiteral("50x1")}}) {
            QTest::mouseClick(box, Qt::LeftButton);
            QTRY_COMPARE(QApplication::focusWidget(), box);
            box->selectAll();
            QTest::keyClicks(box, typed);
            QCOMPARE(box->text(), typed);
        }

        QTest::mouseClick(fixture.control<QRadioButton>("Option2"), Qt::LeftButton);
        QCOMPARE(ipFieldsShown(fixture.form()), 0);
        QCOMPARE(address->text(), QStringLiteral("127.0.0.9"));
        QCOMPARE(port->text(), QStringLiteral("50x1"));

        QTest::mouseClick(fixture.control<QRadioButton>("Option9"), Qt::LeftButton);
        QCOMPARE(ipFieldsShown(fixture.form()), 4);
        QCOMPARE(address->text(), QStringLiteral("127.0.0.9"));
        QCOMPARE(port->text(), QStringLiteral("50x1"));
        QVERIFY(fixture.record().messages.isEmpty());
    }

    void beforeAnyPortButtonAsWithCom1() {
        WindowFixture fixture;
        // The window as created: no choice, selectors 0, IP fields hidden.
        QVERIFY(chosenOptions(fixture.form()).isEmpty());
        compareSelectors(fixture.form(), {0, 0, 0});
        for (const char* name : kIpFields)
            QVERIFY(fixture.control<QWidget>(name)->isHidden());

        // A file whose port code matches no button chooses none: the same state once shown.
        QVERIFY(fixture.start(optionCodes(7, 4, 1)));
        QCOMPARE(chosenOptions(fixture.form()), (QStringList{"Option8", "Option11"}));
        compareSelectors(fixture.form(), {0, 3, 1});
        QCOMPARE(ipFieldsShown(fixture.form()), 0);

        QTest::mouseClick(fixture.control<QRadioButton>("Option1"), Qt::LeftButton);
        compareSelectors(fixture.form(), {0, 3, 1});
        QCOMPARE(ipFieldsShown(fixture.form()), 0);
    }

    // Arrow keys move the choice within a frame and run the handling of the new choice; they
    // never leave the frame.
    void arrowKeysChooseWithinAFrame() {
        WindowFixture fixture;
        QVERIFY(fixture.start(optionCodes(1, 3, 0)));
        MainForm& form = fixture.form();
        struct Step {
            Qt::Key key;
            const char* focus;
            Selectors selectors;
            int ipShown;
        };
        auto press = [&](const Step& step) {
            QTest::keyClick(QApplication::focusWidget(), step.key);
            QCOMPARE(QApplication::focusWidget()->objectName(), QLatin1String(step.focus));
            QVERIFY(fixture.control<QRadioButton>(step.focus)->isChecked());
            compareSelectors(form, step.selectors);
            QCOMPARE(ipFieldsShown(form), step.ipShown);
        };
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Option1"));
        const Step steps[] = {
            {Qt::Key_Down, "Option2", {1, 2, 0}, 0}, {Qt::Key_Down, "Option3", {2, 2, 0}, 0},
            {Qt::Key_Down, "Option4", {3, 2, 0}, 0}, {Qt::Key_Down, "Option9", {99, 2, 0}, 4},
            {Qt::Key_Up, "Option4", {3, 2, 0}, 0},   {Qt::Key_Down, "Option9", {99, 2, 0}, 4},
        };
        for (const Step& step : steps)
            press(step);

        auto* baud = fixture.control<QRadioButton>("Option7");
        baud->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), baud);
        const Step baudSteps[] = {
            {Qt::Key_Down, "Option8", {99, 3, 0}, 4}, {Qt::Key_Up, "Option7", {99, 2, 0}, 4},
            {Qt::Key_Up, "Option6", {99, 1, 0}, 4},   {Qt::Key_Up, "Option5", {99, 0, 0}, 4},
            {Qt::Key_Up, "Option5", {99, 0, 0}, 4},   {Qt::Key_Left, "Option5", {99, 0, 0}, 4},
        };
        for (const Step& step : baudSteps)
            press(step);
        QVERIFY(fixture.control<QRadioButton>("Option9")->isChecked());

        auto* e71 = fixture.control<QRadioButton>("Option10");
        e71->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), e71);
        press({Qt::Key_Right, "Option11", {99, 0, 1}, 4});
        press({Qt::Key_Left, "Option10", {99, 0, 0}, 4});
        QCOMPARE(chosenOptions(fixture.form()), (QStringList{"Option5", "Option9", "Option10"}));
        QVERIFY(fixture.record().messages.isEmpty());
    }

    void framesAreIndependentGroups() {
        WindowFixture fixture;
        QVERIFY(fixture.start());
        const QStringList groups[] = {
            {"Option1", "Option2", "Option3", "Option4", "Option9"},
            {"Option5", "Option6", "Option7", "Option8"},
            {"Option10", "Option11"},
        };
        const char* frames[] = {"Frame1", "Frame2", "Frame3"};
        for (int g = 0; g < 3; ++g) {
            auto* frame = fixture.control<QGroupBox>(frames[g]);
            QStringList inFrame;
            for (QRadioButton* radio : frame->findChildren<QRadioButton*>())
                inFrame << radio->objectName();
            inFrame.sort();
            QStringList expected = groups[g];
            expected.sort();
            QCOMPARE(inFrame, expected);
        }
        // One choice per frame, whatever is clicked in the others.
        for (const char* name : {"Option4", "Option6", "Option11", "Option9", "Option5"}) {
            QTest::mouseClick(fixture.control<QRadioButton>(name), Qt::LeftButton);
            for (const QStringList& group : groups) {
                int on = 0;
                for (const QString& member : group)
                    on += fixture.control<QRadioButton>(member.toLatin1().constData())->isChecked();
                QCOMPARE(on, 1);
            }
        }
        QCOMPARE(chosenOptions(fixture.form()), (QStringList{"Option5", "Option9", "Option11"}));
    }
};

QTEST_MAIN(TestMainFormOptions)
#include "tst_main_form_options.moc"
