#pragma once

// The Telnet commands in what a server sends, skipped byte by byte across reads: the plain
// programs of the benchmarks read a device server's data without a Telnet library of their own.
struct TelnetSkip {
    enum { Data, Command, Option, Sub, SubIac } state = Data;

    // Whether the byte is data (0xFF doubled counts once).
    bool isData(unsigned char byte) {
        switch (state) {
        case Data:
            if (byte != 0xFF)
                return true;
            state = Command;
            return false;
        case Command:
            state = byte == 0xFF ? Data : byte >= 251 ? Option : byte == 250 ? Sub : Data;
            return byte == 0xFF;
        case Option:
            state = Data;
            return false;
        case Sub:
            if (byte == 0xFF)
                state = SubIac;
            return false;
        case SubIac:
            state = byte == 240 ? Data : Sub;
            return false;
        }
        return false;
    }
};
