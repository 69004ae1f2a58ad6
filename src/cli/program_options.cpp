#include "cli/program_options.h"

#include <QRegularExpression>

namespace vmx {

std::optional<int> boundedNumber(const QString& text, int lowest, int highest) {
    // Nine digits at most, so the value always fits an int.
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const int value = text.toInt();
    if (value < lowest || value > highest)
        return std::nullopt;
    return value;
}

ProgramOptions::ProgramOptions(const QString& description)
    : help_({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this text.")),
      version_(QStringLiteral("version"), QStringLiteral("Shows the version.")) {
    parser_.setApplicationDescription(description);
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser_.addOptions({help_, version_});
}

ProgramOptions::Request ProgramOptions::parse(const QStringList& arguments) {
    if (!parser_.parse(arguments)) {
        error_ = parser_.errorText();
        return Request::Error;
    }
    if (parser_.isSet(help_))
        return Request::Help;
    if (parser_.isSet(version_))
        return Request::Version;
    return Request::Run;
}

bool ProgramOptions::readNumber(const QCommandLineOption& option, int lowest, int highest,
                                int& target, const QString& what) {
    if (!parser_.isSet(option))
        return true;
    const std::optional<int> value = boundedNumber(parser_.value(option), lowest, highest);
    if (!value) {
        error_ = QStringLiteral("--%1 takes %2 from %3 to %4.")
                     .arg(option.names().constFirst(), what)
                     .arg(lowest)
                     .arg(highest);
        return false;
    }
    target = *value;
    return true;
}

bool ProgramOptions::readNumber(const QCommandLineOption& option, int lowest, int highest,
                                std::optional<int>& target, const QString& what) {
    int value = 0;
    if (!parser_.isSet(option))
        return true;
    if (!readNumber(option, lowest, highest, value, what))
        return false;
    target = value;
    return true;
}

} // namespace vmx
