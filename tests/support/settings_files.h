#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vmx::test {

// The settings file's name in the current directory, as the program reads and writes it.
inline const QString kIniName = QStringLiteral("velmarixon.ini");

// The seven lines of a settings file, each value as it stands in the file.
QByteArray iniFile(const QByteArray& port, const QByteArray& baud, const QByteArray& address,
                   const QByteArray& command, const QByteArray& ipAddress, const QByteArray& ipPort,
                   const QByteArray& format);

// The whole file, or "<unreadable>" when it cannot be opened.
QByteArray readFile(const QString& path);
// Replaces the file's content with `bytes`; false unless all of them were written.
bool writeFile(const QString& path, const QByteArray& bytes);

// Everything in the directory, hidden entries too, without "." and "..".
QStringList entries(const QString& dir);

} // namespace vmx::test
