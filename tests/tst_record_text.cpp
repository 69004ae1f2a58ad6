// The texts a run's records are made of, against Qt's own writers as the independent model:
// every JSON line must be what QJsonDocument writes for the same record, and every time what
// QDateTime writes, for any text in any field and any time at any offset.
#include "cli/exchange_record.h"
#include "eventlog/event_log.h"
#include "protocol/display_text.h"
#include "protocol/hex_text.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

using namespace vmx;

namespace {

// Text of every kind a field can hold: ASCII with the characters JSON escapes, control
// characters, Latin-1, beyond the BMP, and surrogates without their partner.
QString anyText(QRandomGenerator& random) {
    static const char16_t pieces[] = {u'a',   u'"',   u'\\',  u'/',   0x01,   0x08,  0x09,   0x0a,
                                      0x0c,   0x0d,   0x1f,   0x7f,   0xe9,   0xff,  0x2028, 0x240d,
                                      0xfffd, 0xd83d, 0xde00, 0xdbff, 0xdc00, 0xd800};
    QString text;
    const int length = int(random.bounded(12));
    for (int i = 0; i < length; ++i)
        text += QChar(pieces[random.bounded(int(std::size(pieces)))]);
    return text;
}

QByteArray anyBytes(QRandomGenerator& random) {
    QByteArray bytes;
    const int length = int(random.bounded(10));
    for (int i = 0; i < length; ++i)
        bytes += char(random.bounded(256));
    return bytes;
}

QByteArray modelJson(const ExchangeRecord& record) {
    const QJsonObject object{
        {QStringLiteral("time"), recordTime(record.time)},
        {QStringLiteral("port"), record.port},
        {QStringLiteral("address"), record.address},
        {QStringLiteral("command"), record.command},
        {QStringLiteral("outcome"), outcomeName(record.outcome)},
        {QStringLiteral("payload"), singleLineText(record.payload)},
        {QStringLiteral("payload_hex"), hexText(record.payload, kHexPacked)},
        {QStringLiteral("round_trip_ms"),
         record.roundTripMs ? QJsonValue(*record.roundTripMs) : QJsonValue()},
        {QStringLiteral("error"), record.error},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

class TestRecordText : public QObject {
    Q_OBJECT
private slots:
    void jsonLinesAreWhatQtWrites() {
        QRandomGenerator random(20261208);
        const double trips[] = {0.0,
                                0.001,
                                0.101,
                                1.0,
                                12.5,
                                999.999,
                                4000.0,
                                60000.001,
                                1e-7,
                                3.6e6,
                                8.64e7 + 0.02,
                                1.25e10,
                                99999999999.999,
                                1e15,
                                -2.5,
                                1e16,
                                0.0001,
                                12345678901234568.0};
        for (int i = 0; i < 20000; ++i) {
            ExchangeRecord record;
            record.time = QDateTime::fromMSecsSinceEpoch(
                qint64(random.bounded(4102444800.0)) * 1000, Qt::OffsetFromUTC, 3600);
            record.port = anyText(random);
            record.address = anyText(random);
            record.command = anyText(random);
            record.outcome = Outcome(random.bounded(6));
            record.payload = anyBytes(random);
            if (random.bounded(4) != 0)
                record.roundTripMs = trips[random.bounded(int(std::size(trips)))] +
                                     (i % 3 == 0 ? double(random.bounded(100000)) / 1000 : 0);
            record.error = anyText(random);
            const QByteArray written = jsonRecord(record);
            QCOMPARE(written, modelJson(record));
            QCOMPARE(formatRecord(RecordFormat::Jsonl, record), QString::fromUtf8(written));
        }
    }

    void timesAreWhatQtWrites() {
        QRandomGenerator random(8122026);
        const int offsets[] = {0, 3600, -3600, 19800, -34200, 45900, 50400, -43200, 37};
        for (int i = 0; i < 20000; ++i) {
            // From before the epoch to beyond the year 9999, where Qt writes its own way.
            const qint64 ms = qint64(random.bounded(2.6e14)) - qint64(1.3e14);
            const int offset = offsets[random.bounded(int(std::size(offsets)))];
            const QDateTime time = QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offset);
            QCOMPARE(isoTimeWithOffset(time), time.toString(Qt::ISODateWithMs));
        }
        const QDateTime local = QDateTime::currentDateTime();
        QCOMPARE(isoTimeWithOffset(local),
                 local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs));
    }
};

QTEST_GUILESS_MAIN(TestRecordText)
#include "tst_record_text.moc"
