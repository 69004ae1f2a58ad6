#include "device_sim/reading_source.h"

#include "protocol/decimal_text.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <algorithm>
#include <cmath>

namespace vmx::sim {

namespace {

constexpr qsizetype kMaxListItems = 1000;
constexpr qsizetype kMaxReadingBytes = 1000;

// Decimals written in a number's text: "12.50" has two.
int decimalsOf(QStringView text) {
    const qsizetype period = text.indexOf(u'.');
    if (period < 0)
        return 0;
    qsizetype end = period + 1;
    while (end < text.size() && text[end].isDigit())
        ++end;
    return int(std::min<qsizetype>(end - period - 1, 9));
}

} // namespace

ReadingSource::ReadingSource(const ReadingPlan& plan) : plan_(plan), random_(plan.seed) {
    if (plan_.ramp)
        value_ = plan_.ramp->from;
    if (plan_.ramp && plan_.ramp->to < plan_.ramp->from)
        direction_ = -1;
}

QByteArray ReadingSource::next() {
    if (!plan_.list.isEmpty()) {
        const QByteArray reading = plan_.list.at(index_);
        index_ = (index_ + 1) % plan_.list.size();
        return reading;
    }
    if (!plan_.ramp)
        return {};
    const ReadingPlan::Ramp& ramp = *plan_.ramp;
    // Uniform in -1..1 from the generator's own output, the same on every standard library.
    const double unit = double(random_()) / double(std::mt19937::max()) * 2.0 - 1.0;
    const double reading = value_ + unit * ramp.noise;
    // Up to the far end, then back, and so on.
    const double low = std::min(ramp.from, ramp.to), high = std::max(ramp.from, ramp.to);
    value_ += direction_ * ramp.step;
    if (value_ > high + ramp.step * 1e-9 || value_ < low - ramp.step * 1e-9) {
        direction_ = -direction_;
        value_ += 2 * direction_ * ramp.step;
        value_ = std::clamp(value_, low, high);
    }
    // Never "-0.0": a reading of zero is written as the device would.
    const double shown = std::abs(reading) < 0.5 * std::pow(10.0, -ramp.decimals) ? 0.0 : reading;
    return QByteArray::number(shown, 'f', ramp.decimals);
}

void addReadingOptions(QCommandLineParser& parser) {
    parser.addOption({QStringLiteral("reading-list"),
                      QStringLiteral("Replies carry these payloads in turn, again and again, "
                                     "instead of --payload: 12.5,12.7,13.1"),
                      QStringLiteral("a,b,...")});
    parser.addOption({QStringLiteral("reading-ramp"),
                      QStringLiteral("Replies carry a reading going from FROM to TO and back in "
                                     "steps of STEP: 12.0:14.0:0.1"),
                      QStringLiteral("FROM:TO:STEP")});
    parser.addOption({QStringLiteral("reading-noise"),
                      QStringLiteral("With --reading-ramp: each reading moves by a random amount "
                                     "of at most this much, up or down (default 0)."),
                      QStringLiteral("n")});
    parser.addOption({QStringLiteral("seed"),
                      QStringLiteral("The seed of the noise: the same seed gives the same "
                                     "readings (default 1)."),
                      QStringLiteral("n")});
}

QString readReadingOptions(const QCommandLineParser& parser, ReadingPlan& plan) {
    const bool list = parser.isSet(QStringLiteral("reading-list"));
    const bool ramp = parser.isSet(QStringLiteral("reading-ramp"));
    if (list && ramp)
        return QStringLiteral("Say --reading-list or --reading-ramp, not both.");
    if (list || ramp) {
        if (parser.isSet(QStringLiteral("payload")))
            return QStringLiteral("--payload is one reading; with --reading-list or "
                                  "--reading-ramp leave it out.");
        if (parser.isSet(QStringLiteral("answer")) &&
            parser.value(QStringLiteral("answer")) != u"reply")
            return QStringLiteral("A changing reading needs --answer reply.");
    }
    if (!ramp &&
        (parser.isSet(QStringLiteral("reading-noise")) || parser.isSet(QStringLiteral("seed"))))
        return QStringLiteral("--reading-noise and --seed belong to --reading-ramp.");
    if (list) {
        const QStringList items = parser.value(QStringLiteral("reading-list")).split(u',');
        if (items.size() > kMaxListItems)
            return QStringLiteral("--reading-list takes at most %1 readings.").arg(kMaxListItems);
        for (const QString& item : items) {
            const bool latin1 =
                std::all_of(item.begin(), item.end(), [](QChar c) { return c.unicode() <= 0xFF; });
            if (item.isEmpty() || item.size() > kMaxReadingBytes || !latin1)
                return QStringLiteral("--reading-list takes readings of 1 to %1 single-byte "
                                      "characters, separated by commas.")
                    .arg(kMaxReadingBytes);
            plan.list.append(item.toLatin1());
        }
    }
    if (ramp) {
        const QStringList parts = parser.value(QStringLiteral("reading-ramp")).split(u':');
        const QString noiseText = parser.value(QStringLiteral("reading-noise"));
        std::optional<double> from, to, step, noise = 0.0;
        if (parts.size() == 3) {
            from = parseDecimal(parts[0]);
            to = parseDecimal(parts[1]);
            step = parseDecimal(parts[2]);
        }
        if (!noiseText.isEmpty())
            noise = parseDecimal(noiseText);
        if (!from || !to || !step || *step <= 0 || *from == *to || *step > std::abs(*to - *from) ||
            std::abs(*from) > 1e12 || std::abs(*to) > 1e12)
            return QStringLiteral("--reading-ramp takes FROM:TO:STEP, decimal numbers with FROM "
                                  "and TO apart and STEP above 0 and not beyond their distance.");
        if (!noise || *noise < 0 || *noise > std::abs(*to - *from))
            return QStringLiteral("--reading-noise takes a decimal number from 0 to the ramp's "
                                  "distance.");
        int decimals = 0;
        for (const QString& text : parts + QStringList{noiseText})
            decimals = std::max(decimals, decimalsOf(text));
        plan.ramp = ReadingPlan::Ramp{*from, *to, *step, *noise, decimals};
    }
    if (parser.isSet(QStringLiteral("seed"))) {
        bool ok = false;
        plan.seed = parser.value(QStringLiteral("seed")).toUInt(&ok);
        if (!ok)
            return QStringLiteral("--seed takes a whole number from 0 to 4294967295.");
    }
    return {};
}

} // namespace vmx::sim
