// The floor of the velmarixon-send benchmark: the same exchanges with the device simulator,
// written as a plain program without Qt (C library and POSIX calls only). It sends the frame
// for address 1, command RD, and waits with poll() until the answer's last byte is ETX, ACK or
// NAK; the line or socket is opened once for all exchanges.
//
//   bench_send_loop_floor udp <port> <count>
//   bench_send_loop_floor serial <path> <count>
//
// Prints "total_us <t> p50_us <m> p99_us <n>": the whole run from start to the last answer, and
// the round trips' median and 99th percentile.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
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

// Reads until the last byte read is a terminator; false after 4 s without one.
bool awaitAnswer(int fd) {
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 4000) <= 0)
            return false;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        if (isTerminator(buffer[n - 1]))
            return true;
    }
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
        std::fprintf(stderr, "usage: %s udp <port> <count> | serial <path> <count>\n", argv[0]);
        return 64;
    }
    const double start = nowUs();
    const bool udp = std::strcmp(argv[1], "udp") == 0;
    const int count = std::atoi(argv[3]);
    int fd = -1;
    sockaddr_in device{};
    if (udp) {
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
        if (n != ssize_t(kFrameSize) || !awaitAnswer(fd))
            return 2;
        trips.push_back(nowUs() - sent);
    }
    close(fd);
    std::printf("total_us %.0f p50_us %.1f p99_us %.1f\n", nowUs() - start, percentile(trips, 0.50),
                percentile(trips, 0.99));
    return 0;
}
