#include "trend/trend_record.h"

#include "protocol/decimal_text.h"

#include <array>
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

// The fields the trend reads, whichever format they came in.
struct Fields {
    QByteArray time, port, address, command, outcome, payload;
    int found = 0;
};

bool storeField(QByteArrayView name, QByteArray value, Fields& fields) {
    QByteArray* target = nullptr;
    if (name == "time")
        target = &fields.time;
    else if (name == "port")
        target = &fields.port;
    else if (name == "address")
        target = &fields.address;
    else if (name == "command")
        target = &fields.command;
    else if (name == "outcome")
        target = &fields.outcome;
    else if (name == "payload")
        target = &fields.payload;
    if (target) {
        *target = std::move(value);
        ++fields.found;
    }
    return true;
}

void appendUtf8(QByteArray& out, char32_t code) {
    const QString text = QString::fromUcs4(&code, 1);
    out.append(text.toUtf8());
}

// A JSON string starting at text[at] == '"'; at ends after its closing quote.
bool jsonString(QByteArrayView text, qsizetype& at, QByteArray& out) {
    ++at;
    out.clear();
    while (at < text.size()) {
        const char c = text[at++];
        if (c == '"')
            return true;
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
        if (c != '\\') {
            out.append(c);
            continue;
        }
        if (at >= text.size())
            return false;
        const char e = text[at++];
        switch (e) {
        case '"':
        case '\\':
        case '/':
            out.append(e);
            break;
        case 'b':
            out.append('\b');
            break;
        case 'f':
            out.append('\f');
            break;
        case 'n':
            out.append('\n');
            break;
        case 'r':
            out.append('\r');
            break;
        case 't':
            out.append('\t');
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
            appendUtf8(out, unit);
            break;
        }
        default:
            return false;
        }
    }
    return false;
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
    QByteArray name;
    QByteArray value;
    while (at < text.size()) {
        skipBlanks(text, at);
        if (at >= text.size() || text[at] != '"' || !jsonString(text, at, name))
            return false;
        skipBlanks(text, at);
        if (at >= text.size() || text[at] != ':')
            return false;
        ++at;
        skipBlanks(text, at);
        if (at >= text.size())
            return false;
        if (text[at] == '"') {
            if (!jsonString(text, at, value))
                return false;
            storeField(name, value, fields);
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
    QByteArray value;
    while (true) {
        value.clear();
        if (at < text.size() && text[at] == '"') {
            ++at;
            while (true) {
                if (at >= text.size())
                    return false;
                if (text[at] == '"') {
                    if (at + 1 < text.size() && text[at + 1] == '"') {
                        value.append('"');
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                value.append(text[at++]);
            }
            if (at < text.size() && text[at] != ',')
                return false;
        } else {
            const qsizetype end = text.indexOf(',', at);
            const qsizetype stop = end < 0 ? text.size() : end;
            value = text.sliced(at, stop - at).toByteArray();
            if (value.contains('"'))
                return false;
            at = stop;
        }
        if (column >= kColumns.size())
            return false;
        storeField(kColumns[column++], value, fields);
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
    record.port = QString::fromUtf8(fields.port);
    record.address = QString::fromUtf8(fields.address);
    record.command = QString::fromUtf8(fields.command);
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
