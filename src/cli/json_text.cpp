#include "cli/json_text.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace vmx {

namespace {

char hexDigit(unsigned value) {
    return "0123456789abcdef"[value & 0xf];
}

char* putEscapedUnit(char* at, char16_t unit) {
    *at++ = '\\';
    *at++ = 'u';
    *at++ = hexDigit(unit >> 12);
    *at++ = hexDigit(unit >> 8);
    *at++ = hexDigit(unit >> 4);
    *at++ = hexDigit(unit);
    return at;
}

char* putAscii(char* at, char16_t unit) {
    char escaped = 0;
    switch (unit) {
    case u'"':
        escaped = '"';
        break;
    case u'\\':
        escaped = '\\';
        break;
    case u'\b':
        escaped = 'b';
        break;
    case u'\f':
        escaped = 'f';
        break;
    case u'\n':
        escaped = 'n';
        break;
    case u'\r':
        escaped = 'r';
        break;
    case u'\t':
        escaped = 't';
        break;
    default:
        if (unit < 0x20)
            return putEscapedUnit(at, unit);
        *at++ = char(unit);
        return at;
    }
    *at++ = '\\';
    *at++ = escaped;
    return at;
}

// A code point from U+0080 on.
char* putUtf8(char* at, char32_t code) {
    if (code < 0x800) {
        *at++ = char(0xc0 | (code >> 6));
    } else if (code < 0x10000) {
        *at++ = char(0xe0 | (code >> 12));
        *at++ = char(0x80 | ((code >> 6) & 0x3f));
    } else {
        *at++ = char(0xf0 | (code >> 18));
        *at++ = char(0x80 | ((code >> 12) & 0x3f));
        *at++ = char(0x80 | ((code >> 6) & 0x3f));
    }
    *at++ = char(0x80 | (code & 0x3f));
    return at;
}

} // namespace

char* JsonLine::room(qsizetype bytes) {
    if (line_.size() - used_ < bytes)
        line_.resize(std::max(2 * line_.size(), used_ + bytes + 256));
    return line_.data() + used_;
}

char* JsonLine::putKey(const char* key, qsizetype valueBytes) {
    const auto keyBytes = qsizetype(std::strlen(key));
    char* at = room(keyBytes + valueBytes + 4);
    *at++ = used_ == 0 ? '{' : ',';
    *at++ = '"';
    std::memcpy(at, key, size_t(keyBytes));
    at += keyBytes;
    *at++ = '"';
    *at++ = ':';
    return at;
}

void JsonLine::add(const char* key, QStringView text) {
    // Room for the longest form of every unit (\uxxxx) and the quotes.
    char* at = putKey(key, 2 + text.size() * 6);
    *at++ = '"';
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = text[i].unicode();
        if (unit < 0x80) {
            at = putAscii(at, unit);
        } else if (QChar::isHighSurrogate(unit) && i + 1 < size &&
                   QChar::isLowSurrogate(text[i + 1].unicode())) {
            at = putUtf8(at, QChar::surrogateToUcs4(unit, text[i + 1].unicode()));
            ++i;
        } else if (QChar::isSurrogate(unit)) {
            at = putEscapedUnit(at, unit);
        } else {
            at = putUtf8(at, unit);
        }
    }
    *at++ = '"';
    used_ = at - line_.data();
}

void JsonLine::add(const char* key, std::optional<double> number) {
    QByteArray text;
    if (!number || !std::isfinite(*number)) {
        text = QByteArrayLiteral("null");
    } else if (const double thousandths = std::round(*number * 1000);
               std::abs(thousandths) < 1e15 && thousandths / 1000 == *number) {
        // Round trips are whole microseconds: such a number is written as its thousandths,
        // which is the shortest text that reads back as it.
        const auto whole = qint64(thousandths);
        const qint64 magnitude = whole < 0 ? -whole : whole;
        char digits[32];
        char* end = digits + sizeof digits;
        char* at = end;
        qint64 fraction = magnitude % 1000;
        int fractionDigits = 3;
        while (fraction != 0 && fraction % 10 == 0) {
            fraction /= 10;
            --fractionDigits;
        }
        if (fraction != 0) {
            for (int i = 0; i < fractionDigits; ++i, fraction /= 10)
                *--at = char('0' + fraction % 10);
            *--at = '.';
        }
        qint64 integral = magnitude / 1000;
        do {
            *--at = char('0' + integral % 10);
            integral /= 10;
        } while (integral != 0);
        if (whole < 0)
            *--at = '-';
        text = QByteArray(at, end - at);
    } else if (std::trunc(*number) == *number && std::abs(*number) <= 0x1p53) {
        // A whole number that a double holds exactly is an integer in JSON.
        text = QByteArray::number(qint64(*number));
    } else {
        text = QByteArray::number(*number, 'g', QLocale::FloatingPointShortest);
    }
    char* at = putKey(key, text.size());
    std::memcpy(at, text.constData(), size_t(text.size()));
    used_ = at + text.size() - line_.data();
}

QByteArray JsonLine::take() {
    char* at = room(2);
    *at++ = used_ == 0 ? '{' : '}';
    if (used_ == 0)
        *at++ = '}';
    line_.truncate(at - line_.data());
    used_ = 0;
    return std::exchange(line_, {});
}

} // namespace vmx
