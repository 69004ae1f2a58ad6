// The floor of the velmarixon-send benchmark: the same exchanges with the device simulator,
// written as a plain program without Qt (C library and POSIX calls only). It sends the frame
// for address 1, command RD, and waits with poll() until the answer's last byte is ETX, ACK or
// NAK; the line or socket is opened once for all exchanges.
//
//   bench_send_loop_floor udp <port> <count>
//   bench_send_loop_floor serial <path> <count>
//   bench_send_loop_floor tcp <port> <count>       a serial device server's raw TCP port
//   bench_send_loop_floor rfc2217 <port> <count>   its Telnet port: COM-PORT-OPTION at 19200 N81
//
// Over Telnet the floor does the least a client must: it offers binary transmission and
// COM-PORT-OPTION, refuses suppress go-ahead and echo before the server offers them (as
// Rfc2217Client does: ser2net's answer to a later refusal would hold its next segment back for
// the delayed ACK), sends the four SET-* requests at once without waiting for the server's
// agreement, answers none of the server's offers, waits for the four answers, and skips Telnet
// commands in what comes back (the frame holds no 0xFF to escape).
//
// Prints "total_us <t> p50_us <m> p99_us <n>": the whole run from start to the last answer, and
// the round trips' median and 99th percentile.
#include "telnet_skip.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const char kFrame[] = "\x07"
                      "01RDFE\x03";
constexpr size_t kFrameSize = sizeof kFrame - 1;

double nowUs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

bool isTerminator(char c) {
    return c == 3 || c == 6 || c == 21;
}

// Reads until the last byte read is a terminator; false after 4 s without one. With `telnet`,
// Telnet commands among the bytes are skipped.
bool awaitAnswer(int fd, TelnetSkip* telnet) {
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 4000) <= 0)
            return false;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        if (!telnet) {
            if (isTerminator(buffer[n - 1]))
                return true;
            continue;
        }
        bool ended = false;
        for (ssize_t i = 0; i < n; ++i) {
            if (telnet->isData(static_cast<unsigned char>(buffer[i])))
                ended = isTerminator(buffer[i]);
        }
        if (ended)
            return true;
    }
}

// Connects to 127.0.0.1:port without Nagle's delay.
int connectTcp(const char* port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(uint16_t(std::atoi(port)));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0)
        return -1;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// Offers binary and COM-PORT-OPTION, asks for 19200 baud, 8 data bits, no parity, 1 stop bit,
// and reads until the server has answered all four (whatever values it answers with).
bool negotiate(int fd) {
    // clang-format off
    const unsigned char opening[] = {
        255, 251, 0, 255, 253, 0, 255, 251, 44,     // WILL BINARY, DO BINARY, WILL COM-PORT
        255, 254, 3, 255, 252, 3, 255, 254, 1,      // DONT SGA, WONT SGA, DONT ECHO
        255, 250, 44, 1, 0, 0, 0x4B, 0x00, 255, 240, // SET-BAUDRATE 19200
        255, 250, 44, 2, 8, 255, 240,                // SET-DATASIZE 8
        255, 250, 44, 3, 1, 255, 240,                // SET-PARITY none
        255, 250, 44, 4, 1, 255, 240};               // SET-STOPSIZE 1
    // clang-format on
    if (write(fd, opening, sizeof opening) != ssize_t(sizeof opening))
        return false;
    // The answers are IAC SB 44 101..104; look for their headers in everything read so far.
    std::vector<unsigned char> seen;
    unsigned answered = 0;
    while (answered != 0b1111) {
        pollfd p{fd, POLLIN, 0};
        unsigned char buffer[4096];
        if (poll(&p, 1, 4000) <= 0)
            return false;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        seen.insert(seen.end(), buffer, buffer + n);
        for (size_t i = 0; i + 3 < seen.size(); ++i) {
            if (seen[i] == 255 && seen[i + 1] == 250 && seen[i + 2] == 44 && seen[i + 3] > 100 &&
                seen[i + 3] <= 104)
                answered |= 1u << (seen[i + 3] - 101);
        }
    }
    return true;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s udp|tcp|rfc2217 <port> <count> | serial <path> <count>\n",
                     argv[0]);
        return 64;
    }
    const double start = nowUs();
    const bool udp = std::strcmp(argv[1], "udp") == 0;
    const bool tcp = std::strcmp(argv[1], "tcp") == 0;
    const bool rfc2217 = std::strcmp(argv[1], "rfc2217") == 0;
    const int count = std::atoi(argv[3]);
    int fd = -1;
    sockaddr_in device{};
    TelnetSkip telnet;
    if (tcp || rfc2217) {
        fd = connectTcp(argv[2]);
        if (fd < 0 || (rfc2217 && !negotiate(fd)))
            return 3;
    } else if (udp) {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            return 3;
        device.sin_family = AF_INET;
        device.sin_port = htons(uint16_t(std::atoi(argv[2])));
        device.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    } else {
        fd = open(argv[2], O_RDWR | O_NOCTTY);
        termios line{};
        if (fd < 0 || tcgetattr(fd, &line) != 0)
            return 3;
        cfmakeraw(&line);
        cfsetspeed(&line, B19200);
        tcsetattr(fd, TCSANOW, &line);
    }
    std::vector<double> trips;
    trips.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const double sent = nowUs();
        const ssize_t n = udp ? sendto(fd, kFrame, kFrameSize, 0,
                                       reinterpret_cast<sockaddr*>(&device), sizeof device)
                              : write(fd, kFrame, kFrameSize);
        if (n != ssize_t(kFrameSize) || !awaitAnswer(fd, rfc2217 ? &telnet : nullptr))
            return 2;
        trips.push_back(nowUs() - sent);
    }
    close(fd);
    std::printf("total_us %.0f p50_us %.1f p99_us %.1f\n", nowUs() - start, percentile(trips, 0.50),
                percentile(trips, 0.99));
    return 0;
}
