#pragma once

#include <QByteArray>
#include <QStringView>

#include <optional>

namespace vmx {

// One JSON object (RFC 8259) written member by member into one line of bytes, the way Qt's own
// JSON writer writes it, so that records stay byte for byte what they were when QJsonDocument
// wrote them: building a QJsonObject for each record cost more than a whole exchange over UDP.
// Members come out in the order they are added.
class JsonLine {
public:
    // A text: the quote, the backslash and the control characters escaped (\b \f \n \r \t,
    // the others as \u00xx), everything else in UTF-8; a surrogate without its partner, which
    // UTF-8 cannot hold, as \uxxxx.
    void add(const char* key, QStringView text);
    // A number: the shortest text that reads back as the same double (a whole number that a
    // double holds exactly as an integer); null without one.
    void add(const char* key, std::optional<double> number);
    // The object, closed.
    QByteArray take();

private:
    // Room for `bytes` more at the end; where they go.
    char* room(qsizetype bytes);
    char* putKey(const char* key, qsizetype valueBytes);

    QByteArray line_;
    qsizetype used_ = 0;
};

} // namespace vmx
