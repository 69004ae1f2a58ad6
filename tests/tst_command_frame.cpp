#include "protocol/command_frame.h"
#include "protocol/hex_text.h"

#include <QTest>

using vmx::buildCommandFrame;
using vmx::CommandFrame;
using vmx::FrameError;

Q_DECLARE_METATYPE(vmx::FrameError)

namespace {

// A frame whose every field holds a value no build step would write, to see what a build
// touched.
CommandFrame markedFrame() {
    CommandFrame frame;
    frame.checkSum = -1234;
    frame.startByte = 0xAA;
    frame.addressTens = 0xAB;
    frame.addressUnits = 0xAC;
    frame.checkHigh = 0xAD;
    frame.checkLow = 0xAE;
    frame.endByte = 0xAF;
    frame.commandSlots.fill(0xEE);
    return frame;
}

const QString kEighteen = QStringLiteral("ABCDEFGHIJKLMNOPQR");
const QByteArray kEighteenFrame =
    QByteArray::fromHex("07 30 32 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 39 34 03");
const QString kEighteenEcho =
    QStringLiteral("7 30 32 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 39 34 3");

} // namespace

class TestCommandFrame : public QObject {
    Q_OBJECT
private slots:
    void builds_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("echo");
        QTest::addColumn<int>("checkSum");
        QTest::addColumn<float>("length");

        const QByteArray rd02 = QByteArray::fromHex("07 30 32 52 44 46 46 03");
        const QString rd02Echo = QStringLiteral("7 30 32 52 44 46 46 3");
        const QByteArray rd00 = QByteArray::fromHex("07 30 30 52 44 46 44 03");
        const QString rd00Echo = QStringLiteral("7 30 30 52 44 46 44 3");
        const QByteArray rd06 = QByteArray::fromHex("07 30 36 52 44 30 33 03");
        const QString rd06Echo = QStringLiteral("7 30 36 52 44 30 33 3");
        const QByteArray rd01 = QByteArray::fromHex("07 30 31 52 44 46 45 03");
        const QString rd01Echo = QStringLiteral("7 30 31 52 44 46 45 3");

        QTest::newRow("02 RD, the default fields") << "02"
                                                   << "RD" << rd02 << rd02Echo << 255 << 2.f;
        QTest::newRow("1 RD, first start") << "1"
                                           << "RD" << rd01 << rd01Echo << 254 << 2.f;
        QTest::newRow("99 ZZZ") << "99"
                                << "ZZZ" << QByteArray::fromHex("07 39 39 5A 5A 5A 38 37 03")
                                << "7 39 39 5A 5A 5A 38 37 3" << 391 << 3.f;
        QTest::newRow("5 X, shortest frame") << "5"
                                             << "X" << QByteArray::fromHex("07 30 35 58 43 34 03")
                                             << "7 30 35 58 43 34 3" << 196 << 1.f;
        QTest::newRow("123 is tens 12, units 3")
            << "123"
            << "RD" << QByteArray::fromHex("07 3C 33 52 44 30 43 03") << "7 3C 33 52 44 30 43 3"
            << 268 << 2.f;
        QTest::newRow("tens 207 gives 0xFF") << "2070"
                                             << "A" << QByteArray::fromHex("07 FF 30 41 37 37 03")
                                             << "7 FF 30 41 37 37 3" << 375 << 1.f;
        QTest::newRow("tens 207, units rounded up to 10")
            << "2079.6"
            << "A" << QByteArray::fromHex("07 FF 3A 41 38 31 03") << "7 FF 3A 41 38 31 3" << 385
            << 1.f;
        QTest::newRow("9.6 gives units 10")
            << "9.6"
            << "RD" << QByteArray::fromHex("07 30 3A 52 44 30 37 03") << "7 30 3A 52 44 30 37 3"
            << 263 << 2.f;
        QTest::newRow("5.5 rounds to even 6") << "5.5"
                                              << "RD" << rd06 << rd06Echo << 259 << 2.f;
        QTest::newRow("6.5 rounds to even 6") << "6.5"
                                              << "RD" << rd06 << rd06Echo << 259 << 2.f;
        QTest::newRow("0.5 rounds to even 0") << "0.5"
                                              << "RD" << rd00 << rd00Echo << 253 << 2.f;
        QTest::newRow("0.4 rounds down") << "0.4"
                                         << "RD" << rd00 << rd00Echo << 253 << 2.f;
        QTest::newRow("blanks around") << "  5  "
                                       << "RD" << QByteArray::fromHex("07 30 35 52 44 30 32 03")
                                       << "7 30 35 52 44 30 32 3" << 258 << 2.f;
        QTest::newRow("tab and blank around") << "\t02 "
                                              << "RD" << rd02 << rd02Echo << 255 << 2.f;
        QTest::newRow("minus zero") << "-0"
                                    << "RD" << rd00 << rd00Echo << 253 << 2.f;
        QTest::newRow("plus sign") << "+1"
                                   << "RD" << rd01 << rd01Echo << 254 << 2.f;
        QTest::newRow("exponent") << "0.2e1"
                                  << "RD" << rd02 << rd02Echo << 255 << 2.f;
        QTest::newRow("check value below 0x10 keeps its zero digit")
            << "00"
            << "OO" << QByteArray::fromHex("07 30 30 4F 4F 30 35 03") << "7 30 30 4F 4F 30 35 3"
            << 261 << 2.f;
        QTest::newRow("Latin-1 letter")
            << "02" << QStringLiteral("\u00E9") << QByteArray::fromHex("07 30 32 E9 35 32 03")
            << "7 30 32 E9 35 32 3" << 338 << 1.f;
        QTest::newRow("code 255") << "02" << QStringLiteral("\u00FF")
                                  << QByteArray::fromHex("07 30 32 FF 36 38 03")
                                  << "7 30 32 FF 36 38 3" << 360 << 1.f;
        QTest::newRow("single hex digit in echo")
            << "02"
            << "\n"
            << QByteArray::fromHex("07 30 32 0A 37 33 03") << "7 30 32 A 37 33 3" << 115 << 1.f;
        QTest::newRow("NUL inside the command is not sent")
            << "02" << QString(QStringLiteral("A") + QChar(0) + QStringLiteral("B"))
            << QByteArray::fromHex("07 30 32 41 42 45 43 03") << "7 30 32 41 42 45 43 3" << 236
            << 3.f;
        QTest::newRow("18 characters, 24 bytes")
            << "02" << kEighteen << kEighteenFrame << kEighteenEcho << 1428 << 18.f;
        QTest::newRow("20 characters, first 18 sent")
            << "02" << kEighteen + "ST" << kEighteenFrame << kEighteenEcho << 1428 << 20.f;
        QTest::newRow("100000 characters")
            << "02" << kEighteen + QString(100000 - 18, QLatin1Char('S')) << kEighteenFrame
            << kEighteenEcho << 1428 << 100000.f;
        QTest::newRow("beyond Latin-1 after the 18th, surrogate pair counts once")
            << "02" << kEighteen + QStringLiteral("\u20AC\U0001F600x") << kEighteenFrame
            << kEighteenEcho << 1428 << 21.f;
    }

    void builds() {
        QFETCH(QString, address);
        QFETCH(QString, command);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, echo);
        QFETCH(int, checkSum);
        QFETCH(float, length);

        CommandFrame frame = markedFrame();
        float commandLength = -1;
        QCOMPARE(buildCommandFrame(address, command, frame, commandLength), FrameError::None);
        QCOMPARE(commandLength, length);
        QCOMPARE(vmx::sendingOrder(frame), bytes);
        QCOMPARE(vmx::echoText(frame), echo);
        QCOMPARE(frame.startByte, std::uint8_t(7));
        QCOMPARE(frame.endByte, std::uint8_t(3));
        QCOMPARE(int(frame.checkSum), checkSum);
        QCOMPARE(frame.checkHigh, std::uint8_t(bytes.at(bytes.size() - 3)));
        QCOMPARE(frame.checkLow, std::uint8_t(bytes.at(bytes.size() - 2)));
    }

    void rejects_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("command");
        QTest::addColumn<FrameError>("error");
        QTest::addColumn<bool>("lengthSet");
        QTest::addColumn<float>("length");

        const auto notANumber = FrameError::AddressNotANumber;
        const auto outOfRange = FrameError::AddressOutOfRange;
        const auto notSingleByte = FrameError::CharacterNotSingleByte;

        // Address numbers that fail before the command is looked at.
        QTest::newRow("empty address") << ""
                                       << "RD" << notANumber << false << 0.f;
        QTest::newRow("blank address") << " \t "
                                       << "RD" << notANumber << false << 0.f;
        QTest::newRow("ab") << "ab"
                            << "RD" << notANumber << false << 0.f;
        QTest::newRow("nan") << "nan"
                             << "RD" << notANumber << false << 0.f;
        QTest::newRow("inf") << "inf"
                             << "RD" << notANumber << false << 0.f;
        QTest::newRow("-inf") << "-inf"
                              << "RD" << notANumber << false << 0.f;
        QTest::newRow("hexadecimal") << "0x10"
                                     << "RD" << notANumber << false << 0.f;
        QTest::newRow("comma") << "1,5"
                               << "RD" << notANumber << false << 0.f;
        QTest::newRow("trailing letter") << "5a"
                                         << "RD" << notANumber << false << 0.f;
        QTest::newRow("too large for a double") << "1e309"
                                                << "RD" << notANumber << false << 0.f;
        QTest::newRow("-1") << "-1"
                            << "RD" << outOfRange << false << 0.f;
        QTest::newRow("-0.5 has tens -1") << "-0.5"
                                          << "RD" << outOfRange << false << 0.f;
        QTest::newRow("tens 256") << "2560"
                                  << "RD" << outOfRange << false << 0.f;
        QTest::newRow("1e308") << "1e308"
                               << "RD" << outOfRange << false << 0.f;
        QTest::newRow("bad address, empty command") << "ab"
                                                    << "" << notANumber << false << 0.f;

        // A tens byte above 255 is found only after the command went into the slots.
        QTest::newRow("tens 208") << "2080"
                                  << "RD" << outOfRange << true << 2.f;
        QTest::newRow("tens 255") << "2559"
                                  << "RD" << outOfRange << true << 2.f;
        QTest::newRow("character before tens byte")
            << "2080" << QStringLiteral("\u20AC") << notSingleByte << true << 1.f;

        QTest::newRow("empty command") << "02"
                                       << "" << FrameError::EmptyCommand << true << 0.f;
        QTest::newRow("code 256 in slot 1")
            << "02" << QStringLiteral("\u0100") << notSingleByte << true << 1.f;
        QTest::newRow("euro in slot 3")
            << "02" << QStringLiteral("AB\u20AC") << notSingleByte << true << 3.f;
        QTest::newRow("surrogate pair in slot 2")
            << "02" << QStringLiteral("A\U0001F600") << notSingleByte << true << 2.f;
        QTest::newRow("euro in slot 18") << "02" << kEighteen.left(17) + QStringLiteral("\u20AC")
                                         << notSingleByte << true << 18.f;
    }

    void rejects() {
        QFETCH(QString, address);
        QFETCH(QString, command);
        QFETCH(FrameError, error);
        QFETCH(bool, lengthSet);
        QFETCH(float, length);

        CommandFrame frame = markedFrame();
        float commandLength = 42;
        QCOMPARE(buildCommandFrame(address, command, frame, commandLength), error);
        QCOMPARE(commandLength, lengthSet ? length : 42.f);
        QCOMPARE(frame.startByte, std::uint8_t(7));
        // No failure gets as far as the check digits.
        QCOMPARE(frame.checkSum, std::int16_t(-1234));
        QCOMPARE(frame.checkHigh, std::uint8_t(0xAD));
        QCOMPARE(frame.endByte, std::uint8_t(0xAF));
    }

    void addressFailureLeavesSlotsAlone() {
        CommandFrame frame = markedFrame();
        float commandLength = 7;
        QCOMPARE(buildCommandFrame(u"-1", u"RD", frame, commandLength),
                 FrameError::AddressOutOfRange);
        QCOMPARE(commandLength, 7.f);
        for (const std::uint8_t slot : frame.commandSlots)
            QCOMPARE(slot, std::uint8_t(0xEE));
        QCOMPARE(frame.addressTens, std::uint8_t(0xAB));
        QCOMPARE(frame.addressUnits, std::uint8_t(0xAC));
    }

    void commandFailureKeepsWhatCameBefore() {
        CommandFrame frame = markedFrame();
        float commandLength = 7;
        QCOMPARE(buildCommandFrame(u"02", u"", frame, commandLength), FrameError::EmptyCommand);
        for (const std::uint8_t slot : frame.commandSlots)
            QCOMPARE(slot, std::uint8_t(0));

        frame = markedFrame();
        QCOMPARE(buildCommandFrame(u"02", u"AB\u20ACD", frame, commandLength),
                 FrameError::CharacterNotSingleByte);
        QCOMPARE(commandLength, 4.f);
        QCOMPARE(frame.commandSlots[0], std::uint8_t('A'));
        QCOMPARE(frame.commandSlots[1], std::uint8_t('B'));
        for (std::size_t k = 2; k < frame.commandSlots.size(); ++k)
            QCOMPARE(frame.commandSlots[k], std::uint8_t(0));
        // The address digits come after the command bytes.
        QCOMPARE(frame.addressTens, std::uint8_t(0xAB));
        QCOMPARE(frame.addressUnits, std::uint8_t(0xAC));
    }

    void shorterCommandClearsEarlierSlots() {
        CommandFrame frame;
        float commandLength = 0;
        QCOMPARE(buildCommandFrame(u"02", kEighteen, frame, commandLength), FrameError::None);
        QCOMPARE(buildCommandFrame(u"5", u"X", frame, commandLength), FrameError::None);
        QCOMPARE(commandLength, 1.f);
        QCOMPARE(vmx::sendingOrder(frame), QByteArray::fromHex("07 30 35 58 43 34 03"));
        QCOMPARE(vmx::echoText(frame), QStringLiteral("7 30 35 58 43 34 3"));
    }

    void sendingOrderSkipsEmptySlots() {
        // Slot 1 goes out even when it holds 0; later zero slots do not.
        CommandFrame frame;
        frame.startByte = 7;
        frame.addressTens = 0x30;
        frame.addressUnits = 0x31;
        frame.commandSlots[0] = 0;
        frame.commandSlots[4] = 0x41;
        frame.commandSlots[17] = 0x42;
        frame.checkHigh = 0x30;
        frame.checkLow = 0x41;
        frame.endByte = 3;
        QCOMPARE(vmx::sendingOrder(frame), QByteArray::fromHex("07 30 31 00 41 42 30 41 03"));
        QCOMPARE(vmx::echoText(frame), QStringLiteral("7 30 31 0 41 42 30 41 3"));
    }

    // The three forms bytes take as hex text: the log's and the simulator's pairs, the echo
    // without leading zeros, a record's packed lower case. Byte 0, a letter digit and 0xFF
    // in each.
    void hexStyles_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("text");
        QTest::newRow("pairs") << 0 << QStringLiteral("00 07 3A FF");
        QTest::newRow("echo") << 1 << QStringLiteral("0 7 3A FF");
        QTest::newRow("packed") << 2 << QStringLiteral("00073aff");
    }

    void hexStyles() {
        QFETCH(int, style);
        QFETCH(QString, text);
        const vmx::HexStyle styles[] = {vmx::kHexPairs, vmx::kHexEcho, vmx::kHexPacked};
        QCOMPARE(vmx::hexText(QByteArray::fromHex("00073aff"), styles[style]), text);
        QCOMPARE(vmx::hexText(QByteArray(), styles[style]), QString());
    }
};

QTEST_GUILESS_MAIN(TestCommandFrame)
#include "tst_command_frame.moc"
