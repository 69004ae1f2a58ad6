#include "protocol/display_text.h"

#include <QTest>

using vmx::displayText;
using vmx::receivedCharacters;

class TestDisplayText : public QObject {
    Q_OBJECT
private slots:
    void controlCharactersShowAsPictures() {
        const char withNul[] = "\x00"
                               "A\x1b[2J\x08"
                               "B\x7f";
        QCOMPARE(displayText(QByteArrayView(withNul, sizeof withNul - 1)),
                 QStringLiteral("\u2400A\u241b[2J\u2408B\u2421"));
        // A lone CR or LF would break the line or move the text: pictures too.
        QCOMPARE(displayText("1\r2\n3\n\r4"), QStringLiteral("1\u240d2\u240a3\u240a\u240d4"));
        // A CR LF pair stays the line break it is.
        QCOMPARE(displayText("up\r\ndown\r\r\n"), QStringLiteral("up\r\ndown\u240d\r\n"));
        // Printable and high Latin-1 characters pass unchanged.
        QCOMPARE(displayText("12.5 \xa0\xe9\xff"), QString::fromLatin1("12.5 \xa0\xe9\xff"));
    }

    void everyByteReadsBackExactly() {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        all += "\r\n\r\r\n\n";
        const QString shown = displayText(all);
        for (qsizetype i = 0; i < shown.size(); ++i) {
            const char16_t c = shown[i].unicode();
            const bool lineBreak = (c == u'\r' && i + 1 < shown.size() && shown[i + 1] == u'\n') ||
                                   (c == u'\n' && i > 0 && shown[i - 1] == u'\r');
            QVERIFY2(
                lineBreak || (c >= 0x20 && c != 0x7f),
                qPrintable(QStringLiteral("control U+%1 shown at %2").arg(int(c), 0, 16).arg(i)));
        }
        QCOMPARE(receivedCharacters(shown), QString::fromLatin1(all));
    }
};

QTEST_GUILESS_MAIN(TestDisplayText)
#include "tst_display_text.moc"
