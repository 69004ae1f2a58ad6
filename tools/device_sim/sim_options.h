#pragma once

#include "device_sim/answer_builder.h"
#include "device_sim/reading_source.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace vmx::sim {

enum class LinkKind { Serial, Udp };

// The tool's own UDP port: it sends from and listens on it, so the device cannot take it on the
// same machine.
inline constexpr quint16 kToolUdpPort = 5000;

struct SimOptions {
    LinkKind link = LinkKind::Serial;
    QString linkName = QStringLiteral("COM1"); // serial: name of the link in the current directory
    quint16 udpPort = 6000;                    // UDP: port on 127.0.0.1; 0 lets the system choose
    AnswerMode answer = AnswerMode::Reply;
    QByteArray payload = QByteArrayLiteral("12.5");
    int splitBytes = 0; // 0: each answer in one piece
    int delayMs = 0;    // from a frame's arrival to the first byte of its answer
    int gapMs = 20;     // between the pieces of a split answer
    // The device answers frames for these addresses only: several play a bus of devices on
    // one line, each answering its own frames.
    QList<int> addresses{1};
    ReadingPlan reading; // a changing payload instead of `payload`, when it changes
};

// Limits of the numeric options and of the payload.
inline constexpr int kMaxDelayMs = 600000;
inline constexpr int kMaxGapMs = 10000;
inline constexpr int kMaxSplitBytes = 65535;
inline constexpr qsizetype kMaxPayloadBytes = 1000;
// The highest address the tool can send: its tens value goes up to 207.
inline constexpr int kMaxAddress = 2079;

struct OptionsResult {
    std::optional<SimOptions> options; // set when the arguments are usable
    bool helpRequested = false;
    QString helpText; // filled when help was requested
    bool versionRequested = false;
    QString error; // filled when the arguments are refused
};

// Reads the command line (arguments[0] is the program). Anything it cannot use is refused with
// a one-line reason rather than guessed at.
OptionsResult parseOptions(const QStringList& arguments);

// The two address characters the tool sends for this address (0..kMaxAddress), taken from the
// tool's own frame builder: "01" for 1, "<3" for 123.
QByteArray addressCharacters(int address);

// The address characters of each address, in the same order.
QList<QByteArray> addressCharacters(const QList<int>& addresses);

// The addresses as the ready line and the log show them: "1,5,17".
QString addressListText(const QList<int>& addresses);

// True for a name that can stand as a link in the current directory: not empty, no path
// separator, not "." or "..".
bool isPlainLinkName(const QString& name);

} // namespace vmx::sim
