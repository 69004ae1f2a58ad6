#pragma once

#include <QByteArray>

#include <initializer_list>

namespace vmx::test {

// A byte string written as its byte values.
inline QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (const int v : values)
        out.append(char(v));
    return out;
}

// Every byte value once, 0 to 255 in order.
inline QByteArray allByteValues() {
    QByteArray out;
    for (int v = 0; v < 256; ++v)
        out.append(char(v));
    return out;
}

// The frame for address 02 and command RD: 07 '0' '2' 'R' 'D' 'F' 'F' 03.
inline const QByteArray kDefaultFrame = bytes({0x07, 0x30, 0x32, 0x52, 0x44, 0x46, 0x46, 0x03});

} // namespace vmx::test
