#pragma once

#include <QByteArray>
#include <QString>

namespace vmx {

// Standard output or standard error of a command-line program, written line by line with
// every write checked: a full disk, a closed descriptor or a reader that went away is a failure
// the program reports, never a success. Each line goes out whole at once, unbuffered, so a
// script or a production line reads it as it comes.
class LineOutput {
public:
    explicit LineOutput(int fd) : fd_(fd) {}

    // Writes the text and the line end; false when not all of it could be written (and from
    // then on, without trying again).
    bool writeLine(const QString& text, const char* lineEnd = "\n");
    bool writeRaw(const QByteArray& bytes);

    bool failed() const { return failed_; }
    bool isTerminal() const;
    // The system's reason for the failure, as strerror() words it.
    QString failure() const { return failure_; }

    // A descriptor the program was started without (`>&-`) is pointed at /dev/null, so that no
    // file or port opened later takes its number and receives the program's output; writes to
    // it are reported as failed all the same. Call for 0, 1 and 2 before anything opens a file.
    void guardClosedDescriptor();

private:
    int fd_;
    bool closedAtStart_ = false;
    bool failed_ = false;
    QString failure_;
};

// sysexits' EX_IOERR: the output could not be written.
inline constexpr int kExitOutputFailed = 74;

} // namespace vmx
