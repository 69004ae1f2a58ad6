#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace vmx {

// A whole decimal number within the bounds, written as one to nine digits and nothing else: a
// sign, a blank or a unit ("+5", " 5", "5ms") is refused rather than read as 5.
std::optional<int> boundedNumber(const QString& text, int lowest, int highest);

// The command-line parser as velmarixon-send and the device simulator both set it up: the
// program's description, -h/--help and --version, and long options after a single dash too
// (-port as --port). Each program adds its own options and reads their values.
class ProgramOptions {
public:
    enum class Request { Run, Help, Version, Error };

    explicit ProgramOptions(const QString& description);

    QCommandLineParser& parser() { return parser_; }

    // Parses the arguments (arguments[0] is the program): Help with helpText(), Version, Error
    // with error(), else Run.
    Request parse(const QStringList& arguments);
    QString helpText() const { return parser_.helpText(); }
    QString error() const { return error_; }

    // Reads a numeric option into `target` when it is given. False, with "--NAME takes WHAT from
    // LOWEST to HIGHEST." in error(), when its value is no number within the bounds.
    bool readNumber(const QCommandLineOption& option, int lowest, int highest, int& target,
                    const QString& what = QStringLiteral("a whole number"));
    bool readNumber(const QCommandLineOption& option, int lowest, int highest,
                    std::optional<int>& target,
                    const QString& what = QStringLiteral("a whole number"));

private:
    QCommandLineParser parser_;
    QCommandLineOption help_;
    QCommandLineOption version_;
    QString error_;
};

} // namespace vmx
