#include "app/tab_chain.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTest>

#include <vector>

using vmx::TabEntry;

namespace {

// A tab order written compactly, one token per control:
//   c   a control that takes the focus        o<g>  an option button of group g, not chosen
//   O<g> the chosen option button of group g  x...  any of these, hidden or disabled
std::vector<TabEntry> entriesFrom(const QString& layout) {
    std::vector<TabEntry> entries;
    for (QString token : layout.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        TabEntry entry;
        entry.focusable = !token.startsWith(QLatin1Char('x'));
        if (!entry.focusable)
            token.remove(0, 1);
        if (token.startsWith(QLatin1Char('o')) || token.startsWith(QLatin1Char('O'))) {
            entry.checked = token.startsWith(QLatin1Char('O'));
            entry.optionGroup = token.mid(1).toInt();
        }
        entries.push_back(entry);
    }
    return entries;
}

// The main window's twenty focusable controls in tab-index order:
//  0..3 Com1..Com4, 4..7 1200..19200, 8 SEND, 9 command, 10 EXIT, 11 address, 12 message
//  window, 13 outmessage, 14 CLEAR, 15 Udp, 16 IP address, 17 IP port, 18 E71, 19 N81.
QString mainWindow(int port, int baud, int format, bool ipShown) {
    QStringList tokens;
    auto option = [&](int group, bool chosen) {
        tokens
            << QStringLiteral("%1%2").arg(chosen ? QLatin1Char('O') : QLatin1Char('o')).arg(group);
    };
    for (int i = 0; i < 4; ++i)
        option(0, port == i);
    for (int i = 0; i < 4; ++i)
        option(1, baud == i);
    tokens << QStringLiteral("c c c c c c c"); // SEND .. CLEAR
    option(0, port == 4);                      // Udp
    tokens << QString(ipShown ? QStringLiteral("c c") : QStringLiteral("xc xc"));
    option(2, format == 0);
    option(2, format == 1);
    return tokens.join(QLatin1Char(' '));
}

// Walks the chain `steps` times from `start` and lists the stops reached.
QList<int> walk(const std::vector<TabEntry>& entries, int start, bool forward, int steps) {
    QList<int> stops;
    int current = start;
    for (int i = 0; i < steps; ++i) {
        current = vmx::nextTabStop(entries, current, forward);
        stops << current;
    }
    return stops;
}

} // namespace

class TestTabChain : public QObject {
    Q_OBJECT
private slots:
    void chain_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("start");
        QTest::addColumn<bool>("forward");
        QTest::addColumn<QList<int>>("stops");

        // Com1, 9600, E71: Com1, 9600, SEND, command, EXIT, address, message window,
        // outmessage, CLEAR, E71, and round again.
        const QString com1 = mainWindow(0, 2, 0, false);
        QTest::newRow("COM1 9600 E71 forward from nowhere")
            << com1 << -1 << true << QList<int>{0, 6, 8, 9, 10, 11, 12, 13, 14, 18, 0};
        QTest::newRow("COM1 9600 E71 backward from Com1")
            << com1 << 0 << false << QList<int>{18, 14, 13, 12, 11, 10, 9, 8, 6, 0};
        QTest::newRow("COM1 9600 E71 backward from nowhere")
            << com1 << -1 << false << QList<int>{18, 14};
        // A focus on a control that is no stop (an unchosen button reached by mouse) goes on
        // from its own place in the order.
        QTest::newRow("from unchosen Com3") << com1 << 2 << true << QList<int>{6, 8};
        QTest::newRow("back from unchosen N81") << com1 << 19 << false << QList<int>{18, 14};

        // Udp chosen: the port group comes after CLEAR, followed by the shown IP fields.
        const QString udp = mainWindow(4, 2, 0, true);
        QTest::newRow("UDP 9600 E71 forward")
            << udp << -1 << true << QList<int>{6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 6};
        QTest::newRow("UDP 9600 E71 backward from 9600")
            << udp << 6 << false << QList<int>{18, 17, 16, 15, 14};

        QTest::newRow("COM4 19200 N81")
            << mainWindow(3, 3, 1, false) << -1 << true << QList<int>{3, 7, 8, 9, 10};
        QTest::newRow("N81 wraps to COM4")
            << mainWindow(3, 3, 1, false) << 19 << true << QList<int>{3};

        // A group with no chosen button is reached through its first button in tab order.
        QTest::newRow("nothing chosen")
            << mainWindow(-1, -1, -1, false) << 14 << true << QList<int>{18, 0, 4, 8};
        QTest::newRow("nothing chosen backward")
            << mainWindow(-1, -1, -1, false) << 8 << false << QList<int>{4, 0, 18, 14};

        QTest::newRow("hidden and disabled skipped")
            << QStringLiteral("xc c xc xO0 c") << 1 << true << QList<int>{4, 1, 4};
        // A chosen button that cannot take the focus does not lock its group out of the chain.
        QTest::newRow("hidden chosen button")
            << QStringLiteral("c o0 xO0 c") << 0 << true << QList<int>{1, 3, 0};
        QTest::newRow("single stop returns to itself")
            << QStringLiteral("xc c xc") << 1 << true << QList<int>{1, 1};
        QTest::newRow("nothing takes the focus")
            << QStringLiteral("xc xO0 xc") << -1 << true << QList<int>{-1};
        QTest::newRow("empty order") << QString() << -1 << false << QList<int>{-1};
        QTest::newRow("current beyond the end")
            << QStringLiteral("c c c") << 7 << true << QList<int>{2, 0};
        QTest::newRow("current far before the start")
            << QStringLiteral("c c c") << -9 << false << QList<int>{2, 1};
    }

    void chain() {
        QFETCH(QString, layout);
        QFETCH(int, start);
        QFETCH(bool, forward);
        QFETCH(QList<int>, stops);
        const std::vector<TabEntry> entries = entriesFrom(layout);
        QCOMPARE(walk(entries, start, forward, int(stops.size())), stops);
    }

    void onlyTheChosenButtonOfAGroupIsAStop() {
        const std::vector<TabEntry> entries = entriesFrom(mainWindow(1, 0, 1, false));
        QList<int> stops;
        for (int i = 0; i < int(entries.size()); ++i)
            if (vmx::isTabStop(entries, i))
                stops << i;
        // Com2, 1200, SEND .. CLEAR, N81; no Udp, no IP fields, no other option button.
        QCOMPARE(stops, (QList<int>{1, 4, 8, 9, 10, 11, 12, 13, 14, 19}));
    }

    void indexOutsideTheOrderIsNoStop() {
        const std::vector<TabEntry> entries = entriesFrom(QStringLiteral("c O0"));
        QVERIFY(vmx::isTabStop(entries, 1));
        QVERIFY(!vmx::isTabStop(entries, -1));
        QVERIFY(!vmx::isTabStop(entries, 2));
        QVERIFY(!vmx::isTabStop({}, 0));
    }
};

QTEST_APPLESS_MAIN(TestTabChain)
#include "tst_tab_chain.moc"
