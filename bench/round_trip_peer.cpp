// The device for the round-trip benchmark: a small program without Qt that answers every frame
// at once, so that the figures measure the tool's side and not the device's.
//
//   bench_round_trip_peer <folder>
//
// It makes two pseudo-terminals, one linked as <folder>/COM1 for the tool and one for the floor
// programs, two more for a serial device server (ser2net) to open, one for the tool's and one
// for the plain program's connection, and a UDP socket on 127.0.0.1 with a port the system
// chooses; it prints
//   udp <port>
//   serial <path of the tool's line>
//   floor <path of the floors' line>
//   servers <path of the tool's server line> <path of the plain program's server line>
// and serves until its standard input closes. Each frame (bytes up to an end byte 3) is answered
// with a full reply: the frame's start byte and address digits, its command, the payload 12.5,
// two check characters and ETX.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

// The answer to one frame: start byte 7, address tens and units, command, ETX.
std::string answerTo(const std::string& frame) {
    if (frame.size() < 7)
        return {};
    // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) falsely on a chain of operator+.
    std::string answer(1, '\x07');
    answer.append(frame, 1, 2).append(frame, 3, frame.size() - 6).append("12.5xy\x03");
    return answer;
}

struct Line {
    int master = -1;
    int slave = -1; // held open so the line stays up while the tool closes and reopens it
    std::string slavePath;
    std::string pending;
};

bool openLine(Line& line) {
    char name[256] = {};
    if (openpty(&line.master, &line.slave, name, nullptr, nullptr) != 0)
        return false;
    termios raw{};
    if (tcgetattr(line.slave, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(line.slave, TCSANOW, &raw);
    }
    line.slavePath = name;
    return true;
}

void serveLine(Line& line) {
    char buffer[4096];
    const ssize_t n = read(line.master, buffer, sizeof buffer);
    if (n <= 0)
        return;
    for (ssize_t i = 0; i < n; ++i) {
        line.pending.push_back(buffer[i]);
        if (buffer[i] == '\x03') {
            const std::string answer = answerTo(line.pending);
            line.pending.clear();
            if (!answer.empty() && write(line.master, answer.data(), answer.size()) < 0)
                std::perror("write");
        }
    }
}

void serveDatagram(int socket) {
    char buffer[2048];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n =
        recvfrom(socket, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0)
        return;
    const std::string answer = answerTo(std::string(buffer, std::size_t(n)));
    if (!answer.empty())
        sendto(socket, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from),
               fromLength);
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_round_trip_peer <folder>\n");
        return 2;
    }
    Line tool;
    Line floor;
    Line toolServer;
    Line plainServer;
    if (!openLine(tool) || !openLine(floor) || !openLine(toolServer) || !openLine(plainServer)) {
        std::perror("openpty");
        return 1;
    }
    const std::string link = std::string(argv[1]) + "/COM1";
    unlink(link.c_str());
    if (symlink(tool.slavePath.c_str(), link.c_str()) != 0) {
        std::perror("symlink");
        return 1;
    }

    // Loopback only: nothing in a benchmark may reach another address.
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (udp < 0 || bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(udp, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("udp");
        return 1;
    }

    std::printf("udp %d\nserial %s\nfloor %s\nservers %s %s\n", ntohs(address.sin_port),
                tool.slavePath.c_str(), floor.slavePath.c_str(), toolServer.slavePath.c_str(),
                plainServer.slavePath.c_str());
    std::fflush(stdout);

    pollfd watched[6] = {
        {tool.master, POLLIN, 0},  {floor.master, POLLIN, 0},      {udp, POLLIN, 0},
        {STDIN_FILENO, POLLIN, 0}, {toolServer.master, POLLIN, 0}, {plainServer.master, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 6, -1) < 0)
            continue;
        if (watched[4].revents & POLLIN)
            serveLine(toolServer);
        if (watched[5].revents & POLLIN)
            serveLine(plainServer);
        if (watched[0].revents & POLLIN)
            serveLine(tool);
        if (watched[1].revents & POLLIN)
            serveLine(floor);
        if (watched[2].revents & POLLIN)
            serveDatagram(udp);
        if (watched[3].revents & (POLLIN | POLLHUP)) {
            char c;
            if (read(STDIN_FILENO, &c, 1) <= 0)
                break;
        }
    }
    unlink(link.c_str());
    return 0;
}
