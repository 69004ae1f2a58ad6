#include "settings/settings_codec.h"

#include "numbers/nearest_binary.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vmx {

namespace {

// ---- numbers --------------------------------------------------------------------------------

template <typename Char> bool isSkippedInNumber(Char c) {
    return c == Char(' ') || c == Char('\t') || c == Char('\n') || c == Char('\r');
}

template <typename Char> bool isDigit(Char c) {
    return c >= Char('0') && c <= Char('9');
}

// The longest leading decimal number of a text, blanks, tabs and line ends anywhere passed over:
// optional sign, digits, optional period with fraction digits, optional exponent (taken only when
// it has digits). At least one digit must stand before or after the period. No number gives 0.
// Values beyond the float range are held at +-FLT_MAX, values too small for it become 0.
template <typename Char> float leadingNumber(const Char* text, std::size_t size) {
    std::size_t i = 0;
    const auto skip = [&] {
        while (i < size && isSkippedInNumber(text[i]))
            ++i;
    };
    const auto at = [&](Char c) { return i < size && text[i] == c; };

    skip();
    bool negative = false;
    if (at(Char('+')) || at(Char('-'))) {
        negative = at(Char('-'));
        ++i;
        skip();
    }

    // Integer and fraction digits go into one string; intLength tells where the period stood.
    std::string digits;
    std::int64_t intLength = 0;
    while (i < size && isDigit(text[i])) {
        digits.push_back(static_cast<char>(text[i]));
        ++intLength;
        ++i;
        skip();
    }
    if (at(Char('.'))) {
        ++i;
        skip();
        while (i < size && isDigit(text[i])) {
            digits.push_back(static_cast<char>(text[i]));
            ++i;
            skip();
        }
    }
    if (digits.empty())
        return 0.0f;

    // Exponent, saturated far beyond anything a float can use.
    std::int64_t exponent = 0;
    if (at(Char('e')) || at(Char('E'))) {
        std::size_t j = i + 1;
        const auto skipAt = [&] {
            while (j < size && isSkippedInNumber(text[j]))
                ++j;
        };
        skipAt();
        bool negativeExponent = false;
        if (j < size && (text[j] == Char('+') || text[j] == Char('-'))) {
            negativeExponent = text[j] == Char('-');
            ++j;
            skipAt();
        }
        bool any = false;
        std::int64_t value = 0;
        while (j < size && isDigit(text[j])) {
            any = true;
            value = std::min<std::int64_t>(value * 10 + (text[j] - Char('0')), 1'000'000'000);
            ++j;
            skipAt();
        }
        if (any)
            exponent = negativeExponent ? -value : value;
    }

    const std::size_t firstSignificant = digits.find_first_not_of('0');
    if (firstSignificant == std::string::npos)
        return 0.0f;

    // The number lies in [10^(magnitude-1), 10^magnitude).
    const std::int64_t magnitude =
        intLength - static_cast<std::int64_t>(firstSignificant) + exponent;
    const float limit = negative ? -FLT_MAX : FLT_MAX;
    if (magnitude > 40)
        return limit;
    if (magnitude < -46)
        return 0.0f;

    // The significant digits, read with correct rounding to float.
    const std::string_view significant = std::string_view(digits).substr(firstSignificant);
    const float value =
        nearestFloat(significant, magnitude - static_cast<std::int64_t>(significant.size()));
    if (std::isinf(value))
        return limit;
    if (value == 0.0f)
        return 0.0f;
    return negative ? -value : value;
}

// ---- writing --------------------------------------------------------------------------------

void appendText(QByteArray& out, QStringView text) {
    out.append('"');
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\r' || c == u'\n') {
            // A line end inside a text would split its line; it cannot be stored.
            out.append('?');
        } else if (c < 0x100) {
            out.append(static_cast<char>(c));
        } else {
            // One '?' per character, also for a character written as a surrogate pair.
            if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
                ++i;
            out.append('?');
        }
    }
    out.append('"');
}

void appendNumber(QByteArray& out, float value) {
    out.append(formatSettingsNumber(value).toLatin1());
}

// ---- reading --------------------------------------------------------------------------------

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

class ItemReader {
public:
    explicit ItemReader(QByteArrayView bytes)
        : p_(bytes.data()), end_(bytes.data() + bytes.size()) {}

    // A label: blank lines and blanks before it are passed over. A quoted label runs to the next
    // quote on its line (or to the line end when there is none); what follows the closing quote
    // up to the next comma or line end is skipped. An unquoted label runs to the next comma or
    // line end.
    std::optional<QByteArrayView> label() {
        while (p_ < end_ && (isBlank(*p_) || isLineEnd(*p_)))
            ++p_;
        if (p_ == end_)
            return std::nullopt;
        if (*p_ != '"')
            return unquoted();
        ++p_;
        const char* lineEnd = findLineEnd(p_);
        const char* close = std::find(p_, lineEnd, '"');
        const QByteArrayView item(p_, close - p_);
        p_ = close;
        skipToDelimiter();
        return item;
    }

    // A value: blanks before it are passed over. A quoted value runs to the LAST quote before
    // the line end (to the line end when there is no other quote) and takes the rest of its line.
    // An unquoted value runs to the next comma or line end.
    std::optional<QByteArrayView> value() {
        while (p_ < end_ && isBlank(*p_))
            ++p_;
        if (p_ == end_)
            return std::nullopt;
        if (*p_ != '"')
            return unquoted();
        ++p_;
        const char* lineEnd = findLineEnd(p_);
        const char* close = lineEnd;
        for (const char* q = lineEnd; q != p_; --q) {
            if (q[-1] == '"') {
                close = q - 1;
                break;
            }
        }
        const QByteArrayView item(p_, close - p_);
        p_ = lineEnd;
        consumeLineEnd();
        return item;
    }

private:
    std::optional<QByteArrayView> unquoted() {
        const char* start = p_;
        while (p_ < end_ && *p_ != ',' && !isLineEnd(*p_))
            ++p_;
        const QByteArrayView item(start, p_ - start);
        skipToDelimiter();
        return item;
    }

    const char* findLineEnd(const char* from) const {
        return std::find_if(from, end_, [](char c) { return isLineEnd(c); });
    }

    // Moves past the next comma or line end (CR LF, LF or CR).
    void skipToDelimiter() {
        while (p_ < end_ && *p_ != ',' && !isLineEnd(*p_))
            ++p_;
        if (p_ < end_ && *p_ == ',')
            ++p_;
        else
            consumeLineEnd();
    }

    void consumeLineEnd() {
        if (p_ < end_ && *p_ == '\r') {
            ++p_;
            if (p_ < end_ && *p_ == '\n')
                ++p_;
        } else if (p_ < end_ && *p_ == '\n') {
            ++p_;
        }
    }

    const char* p_;
    const char* end_;
};

float numberItem(QByteArrayView item) {
    return leadingNumber(item.data(), static_cast<std::size_t>(item.size()));
}

QString textItem(QByteArrayView item) {
    return QString::fromLatin1(item);
}

} // namespace

QString defaultIpAddress() {
    return QStringLiteral("192.168.1.100");
}

Settings defaultSettings(float comFormat) {
    Settings settings;
    settings.iniPort = 1;
    settings.iniBaud = 4;
    settings.iniAddress = 1;
    settings.iniCommand = QStringLiteral("RD");
    settings.ipAddress = defaultIpAddress();
    settings.ipPort = QStringLiteral("5000");
    settings.comFormat = comFormat;
    return settings;
}

namespace {

// The file's seven lines in order: each label with the member its value belongs to. Numbers
// and texts differ only in how the value is written and read.
struct SettingsLine {
    const char* label;
    float Settings::*number;
    QString Settings::*text;
};

constexpr SettingsLine kLines[] = {
    {"Serial port=", &Settings::iniPort, nullptr},  {"Baud rate=", &Settings::iniBaud, nullptr},
    {"Address=", &Settings::iniAddress, nullptr},   {"Command=", nullptr, &Settings::iniCommand},
    {"IP Address=", nullptr, &Settings::ipAddress}, {"IP port=", nullptr, &Settings::ipPort},
    {"COM format=", &Settings::comFormat, nullptr},
};

} // namespace

QByteArray encodeSettings(const Settings& settings) {
    QByteArray out;
    out.reserve(128 + settings.iniCommand.size() + settings.ipAddress.size() +
                settings.ipPort.size());
    for (const SettingsLine& line : kLines) {
        out.append('"').append(line.label).append("\",");
        if (line.number)
            appendNumber(out, settings.*line.number);
        else
            appendText(out, settings.*line.text);
        out.append("\r\n");
    }
    return out;
}

bool decodeSettings(QByteArrayView bytes, Settings& settings) {
    ItemReader reader(bytes);
    for (const SettingsLine& line : kLines) {
        // Labels are read and dropped: values count by their position alone.
        if (!reader.label())
            return false;
        const std::optional<QByteArrayView> value = reader.value();
        if (!value)
            return false;
        // Stored at once, so a file cut short keeps what was read before the cut.
        if (line.number)
            settings.*line.number = numberItem(*value);
        else
            settings.*line.text = textItem(*value);
    }
    return true;
}

QString formatSettingsNumber(float value) {
    if (std::isnan(value))
        value = 0.0f;
    else if (std::isinf(value))
        value = value > 0 ? FLT_MAX : -FLT_MAX;

    if (std::fabs(value) <= 9999999.0f && value == std::trunc(value))
        return QString::number(static_cast<long long>(value)); // -0 becomes "0"

    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

float numericValue(QStringView text) {
    return leadingNumber(text.utf16(), static_cast<std::size_t>(text.size()));
}

} // namespace vmx
