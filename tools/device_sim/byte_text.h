#pragma once

#include <QByteArrayView>
#include <QString>

namespace vmx::sim {

// Every byte as two uppercase hexadecimal digits, one blank between bytes: "07 30 32 03".
QString hexBytes(QByteArrayView bytes);

// The bytes as text for a log line: printable ASCII as it is, every other byte as \xNN.
QString printableBytes(QByteArrayView bytes);

} // namespace vmx::sim
