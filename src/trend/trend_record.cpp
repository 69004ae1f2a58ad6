#include "trend/trend_record.h"

#include "protocol/decimal_text.h"

#include <array>
#include <cstring>
#include <optional>

namespace vmx::trend {

namespace {

bool digitsAt(QByteArrayView text, qsizetype at, int count, int& value) {
    if (at + count > text.size())
        return false;
    value = 0;
    for (int i = 0; i < count; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (H. Hinnant's algorithm).
qint64 daysFromCivil(int year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yearOfEra = year - era * 400;
    const qint64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int daysInMonth(int year, int month) {
    static constexpr std::array<int, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[std::size_t(month - 1)];
}

std::optional<Outcome> outcomeFromName(QByteArrayView name) {
    for (const Outcome outcome : {Outcome::Reply, Outcome::Ack, Outcome::Nak, Outcome::NoAnswer,
                                  Outcome::LinkError, Outcome::Late}) {
        if (outcomeName(outcome).toLatin1() == name)
            return outcome;
    }
    return std::nullopt;
}

// The fields the trend reads, whichever format they came in: views of the line itself, or of
// `owned` where escapes or doubled quotes had to be decoded.
struct Fields {
    QByteArrayView time, port, address, command, outcome, payload;
    std::array<QByteArray, 6> owned;
    int found = 0;
};

void storeField(QByteArrayView name, QByteArrayView value, bool decoded, Fields& fields) {
    static constexpr std::array<const char*, 6> kNames{"time",    "port",    "address",
                                                       "command", "outcome", "payload"};
    QByteArrayView* targets[] = {&fields.time,    &fields.port,    &fields.address,
                                 &fields.command, &fields.outcome, &fields.payload};
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (name != kNames[i])
            continue;
        if (decoded) {
            fields.owned[i] = value.toByteArray();
            value = fields.owned[i];
        }
        *targets[i] = value;
        ++fields.found;
        return;
    }
}

void appendUtf8(QByteArray& out, char32_t code) {
    const QString text = QString::fromUcs4(&code, 1);
    out.append(text.toUtf8());
}

// A JSON string starting at text[at] == '"'; at ends after its closing quote. Without escapes
// (the usual case) `out` is a view of the text; with them, of `scratch`, and `decoded` is set.
bool jsonString(QByteArrayView text, qsizetype& at, QByteArray& scratch, QByteArrayView& out,
                bool& decoded) {
    const qsizetype begin = ++at;
    while (at < text.size() && text[at] != '"' && text[at] != '\\') {
        if (static_cast<unsigned char>(text[at]) < 0x20)
            return false;
        ++at;
    }
    if (at >= text.size())
        return false;
    decoded = text[at] == '\\';
    if (!decoded) {
        out = text.sliced(begin, at - begin);
        ++at;
        return true;
    }
    scratch = text.sliced(begin, at - begin).toByteArray();
    while (at < text.size()) {
        const char c = text[at++];
        if (c == '"') {
            out = scratch;
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
        if (c != '\\') {
            scratch.append(c);
            continue;
        }
        if (at >= text.size())
            return false;
        const char e = text[at++];
        switch (e) {
        case '"':
        case '\\':
        case '/':
            scratch.append(e);
            break;
        case 'b':
            scratch.append('\b');
            break;
        case 'f':
            scratch.append('\f');
            break;
        case 'n':
            scratch.append('\n');
            break;
        case 'r':
            scratch.append('\r');
            break;
        case 't':
            scratch.append('\t');
            break;
        case 'u': {
            auto hex4 = [&](char32_t& unit) {
                if (at + 4 > text.size())
                    return false;
                bool ok = false;
                unit = QByteArrayView(text.data() + at, 4).toUInt(&ok, 16);
                at += 4;
                return ok;
            };
            char32_t unit = 0;
            if (!hex4(unit))
                return false;
            if (unit >= 0xD800 && unit < 0xDC00 && at + 1 < text.size() && text[at] == '\\' &&
                text[at + 1] == 'u') {
                at += 2;
                char32_t low = 0;
                if (!hex4(low) || low < 0xDC00 || low > 0xDFFF)
                    return false;
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            }
            appendUtf8(scratch, unit);
            break;
        }
        default:
            return false;
        }
    }
    return false;
}

// Into the record's own buffer, which a record read line after line keeps: no allocation per line.
void copyInto(QByteArray& target, QByteArrayView from) {
    target.resize(from.size());
    if (!from.isEmpty())
        std::memcpy(target.data(), from.data(), std::size_t(from.size()));
}

void skipBlanks(QByteArrayView text, qsizetype& at) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
}

// A flat JSON object of strings, numbers, true, false and null: what velmarixon-send writes.
// Nested values are not records and refuse the line. Written here rather than through
// QJsonDocument because a million lines must load in well under a second.
bool readJson(QByteArrayView text, Fields& fields) {
    qsizetype at = 0;
    skipBlanks(text, at);
    if (at >= text.size() || text[at] != '{')
        return false;
    ++at;
    skipBlanks(text, at);
    if (at < text.size() && text[at] == '}')
        return false;
    QByteArray nameScratch, valueScratch;
    QByteArrayView name, value;
    bool decoded = false;
    while (at < text.size()) {
        skipBlanks(text, at);
        if (at >= text.size() || text[at] != '"' ||
            !jsonString(text, at, nameScratch, name, decoded))
            return false;
        skipBlanks(text, at);
        if (at >= text.size() || text[at] != ':')
            return false;
        ++at;
        skipBlanks(text, at);
        if (at >= text.size())
            return false;
        if (text[at] == '"') {
            if (!jsonString(text, at, valueScratch, value, decoded))
                return false;
            storeField(name, value, decoded, fields);
        } else {
            // A number or a literal: only its extent matters here.
            const qsizetype begin = at;
            while (at < text.size() && text[at] != ',' && text[at] != '}' && text[at] != ' ')
                ++at;
            const QByteArrayView token = text.sliced(begin, at - begin);
            if (token.isEmpty() || token.contains('{') || token.contains('[') ||
                token.contains('"'))
                return false;
        }
        skipBlanks(text, at);
        if (at >= text.size())
            return false;
        if (text[at] == '}') {
            ++at;
            skipBlanks(text, at);
            return at == text.size();
        }
        if (text[at] != ',')
            return false;
        ++at;
    }
    return false;
}

// RFC 4180 fields of one line, in the column order velmarixon-send writes.
bool readCsv(QByteArrayView text, Fields& fields) {
    static const std::array<const char*, 9> kColumns{"time",        "port",          "address",
                                                     "command",     "outcome",       "payload",
                                                     "payload_hex", "round_trip_ms", "error"};
    std::size_t column = 0;
    qsizetype at = 0;
    QByteArray decodedValue;
    while (true) {
        QByteArrayView value;
        bool decoded = false;
        if (at < text.size() && text[at] == '"') {
            ++at;
            decoded = true;
            decodedValue.clear();
            while (true) {
                if (at >= text.size())
                    return false;
                if (text[at] == '"') {
                    if (at + 1 < text.size() && text[at + 1] == '"') {
                        decodedValue.append('"');
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                decodedValue.append(text[at++]);
            }
            if (at < text.size() && text[at] != ',')
                return false;
        } else {
            const qsizetype end = text.indexOf(',', at);
            const qsizetype stop = end < 0 ? text.size() : end;
            value = text.sliced(at, stop - at);
            if (value.contains('"'))
                return false;
            at = stop;
        }
        if (column >= kColumns.size())
            return false;
        storeField(kColumns[column++], decoded ? QByteArrayView(decodedValue) : value, decoded,
                   fields);
        if (at >= text.size())
            break;
        ++at; // the comma
    }
    return column == kColumns.size();
}

// A payload that means to be a number but is none a double can hold: "nan", "inf", "-Infinity",
// "1e999". Such a reading is a broken record, not a text answer, and is skipped. Only the form
// is looked at; the value is read by parseDecimal alone.
bool meantAsNumber(QStringView payload) {
    QStringView text = payload.trimmed();
    if (text.startsWith(u'+') || text.startsWith(u'-'))
        text = text.sliced(1);
    if (text.compare(u"nan", Qt::CaseInsensitive) == 0 ||
        text.compare(u"inf", Qt::CaseInsensitive) == 0 ||
        text.compare(u"infinity", Qt::CaseInsensitive) == 0)
        return true;
    if (text.isEmpty() || !(text[0].isDigit() || text[0] == u'.'))
        return false;
    int periods = 0, exponents = 0;
    for (const QChar c : text) {
        periods += c == u'.';
        exponents += c == u'e' || c == u'E';
        if (!(c.isDigit() || c == u'.' || c == u'e' || c == u'E' || c == u'+' || c == u'-'))
            return false;
    }
    return periods <= 1 && exponents <= 1;
}

} // namespace

bool parseRecordTime(QByteArrayView text, qint64& timeMs, int& offsetSeconds) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    if (!digitsAt(text, 0, 4, year) || text.size() < 20 || text[4] != '-' ||
        !digitsAt(text, 5, 2, month) || text[7] != '-' || !digitsAt(text, 8, 2, day) ||
        text[10] != 'T' || !digitsAt(text, 11, 2, hour) || text[13] != ':' ||
        !digitsAt(text, 14, 2, minute) || text[16] != ':' || !digitsAt(text, 17, 2, second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    qsizetype at = 19;
    if (text[at] == '.') {
        if (!digitsAt(text, at + 1, 3, ms))
            return false;
        at += 4;
    }
    int offset = 0;
    if (at + 1 == text.size() && text[at] == 'Z') {
        offset = 0;
    } else if (at + 6 == text.size() && (text[at] == '+' || text[at] == '-') &&
               text[at + 3] == ':') {
        int offsetHours = 0, offsetMinutes = 0;
        if (!digitsAt(text, at + 1, 2, offsetHours) || !digitsAt(text, at + 4, 2, offsetMinutes) ||
            offsetHours > 23 || offsetMinutes > 59)
            return false;
        offset = (offsetHours * 60 + offsetMinutes) * 60 * (text[at] == '-' ? -1 : 1);
    } else {
        return false;
    }
    const qint64 localSeconds =
        daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    timeMs = (localSeconds - offset) * 1000 + ms;
    offsetSeconds = offset;
    return true;
}

LineKind parseRecordLine(QByteArrayView line, TrendRecord& record) {
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.trimmed().isEmpty())
        return LineKind::Ignored;
    if (line.startsWith("time,port,"))
        return LineKind::Ignored;
    Fields fields;
    const bool read =
        line.trimmed().startsWith('{') ? readJson(line, fields) : readCsv(line, fields);
    if (!read || fields.found < 6)
        return LineKind::Skipped;
    const std::optional<Outcome> outcome = outcomeFromName(fields.outcome);
    if (!outcome || !parseRecordTime(fields.time, record.timeMs, record.offsetSeconds))
        return LineKind::Skipped;
    copyInto(record.port, fields.port);
    copyInto(record.address, fields.address);
    copyInto(record.command, fields.command);
    record.outcome = *outcome;
    record.payload = QString::fromUtf8(fields.payload);
    record.isPoint = false;
    if (*outcome == Outcome::Reply) {
        // The address box's own reading of numbers: nan, inf and values beyond a double are
        // refused there, so they never become points here.
        if (const std::optional<double> value = parseDecimal(record.payload)) {
            record.isPoint = true;
            record.value = *value;
        } else if (meantAsNumber(record.payload)) {
            return LineKind::Skipped;
        }
    }
    return LineKind::Record;
}

} // namespace vmx::trend
