// The message window under a flood: it keeps the newest lines within its bounds, and what it
// lists is exactly the bytes received in them.
#include "app/message_window.h"
#include "support/window_fixture.h"

#include <QPlainTextEdit>
#include <QTest>

using vmx::MessageWindow;
using vmx::test::WindowFixture;

namespace {

// A full reply whose payload is `payload` (no SEND has run, so no command is echoed).
QByteArray replyWith(const QByteArray& payload) {
    return "\x07"
           "02" +
           payload + "xy\x03";
}

} // namespace

class TestMessageWindow : public QObject {
    Q_OBJECT
private slots:
    // Through the window's receive path: the oldest lines go, the newest 100,000 stay in order.
    void keepsTheNewestLines() {
        WindowFixture fx;
        QVERIFY(fx.start());
        constexpr int kSent = 100'000 + 77;
        for (int i = 0; i < kSent; ++i) {
            fx.form().datagramReceived(replyWith("#" + QByteArray::number(i)));
            if (i % 2000 == 0)
                QCoreApplication::processEvents();
        }
        const QStringList lines = fx.messageText().split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 100'000 + 1); // after the last CR LF: nothing
        QCOMPARE(lines.front(), QStringLiteral("#77"));
        QCOMPARE(lines[lines.size() - 2], QStringLiteral("#%1").arg(kSent - 1));
        QCOMPARE(lines.back(), QString());
    }

    // The characters are bounded too: whole lines go from the start, the newest stay exactly as
    // received (control characters included), and a newest line above the bound still stays.
    void keepsTheNewestCharacters() {
        QPlainTextEdit view;
        MessageWindow window(&view, nullptr, {1000, 10'000});
        QString expected;
        QStringList kept;
        for (int i = 0; i < 40; ++i) {
            QByteArray item(900 + i, char('a' + i % 26));
            item[0] = char(i % 32); // a control character, shown as its picture
            window.appendLine(item);
            kept << QString::fromLatin1(item) + QStringLiteral("\r\n");
            if (i % 7 == 0)
                QCoreApplication::processEvents();
        }
        const QString text = window.text();
        // The kept lines are the newest ones, as many as fit: one more would not.
        qsizetype size = 0;
        int fit = 0;
        for (qsizetype i = kept.size() - 1; i >= 0 && size + kept[i].size() - 1 <= 10'000; --i) {
            size += kept[i].size() - 1; // one paragraph separator per line in the document
            ++fit;
        }
        QVERIFY(fit > 1 && fit < 40);
        QCOMPARE(text, kept.mid(kept.size() - fit).join(QString()));

        const QByteArray huge(25'000, 'H');
        window.appendLine(huge);
        QCOMPARE(window.text(), QString::fromLatin1(huge) + QStringLiteral("\r\n"));
    }
};

QTEST_MAIN(TestMessageWindow)
#include "tst_message_window.moc"
