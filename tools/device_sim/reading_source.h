#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <random>

class QCommandLineParser;

namespace vmx::sim {

// A reading that changes from one reply to the next, so that a trend of it draws a curve.
struct ReadingPlan {
    QList<QByteArray> list; // cycled through, one per reply
    struct Ramp {
        double from = 0;
        double to = 0;
        double step = 0;
        double noise = 0; // each reading moves by at most this much, up or down
        int decimals = 0; // as many as the numbers given have
    };
    std::optional<Ramp> ramp; // from FROM to TO and back, in steps, with noise
    quint32 seed = 1;         // the same seed gives the same readings

    bool changes() const { return !list.isEmpty() || ramp.has_value(); }
};

// The payloads of a plan, one per reply.
class ReadingSource {
public:
    explicit ReadingSource(const ReadingPlan& plan);
    QByteArray next();

private:
    ReadingPlan plan_;
    qsizetype index_ = 0;
    double value_ = 0;
    double direction_ = 1;
    std::mt19937 random_;
};

// The options --reading-list, --reading-ramp, --reading-noise and --seed.
void addReadingOptions(QCommandLineParser& parser);
// Reads them into the plan; an empty text, or the reason they are refused.
QString readReadingOptions(const QCommandLineParser& parser, ReadingPlan& plan);

} // namespace vmx::sim
