// The floors of the round-trip benchmark: the least work a program must do for one exchange with
// the benchmark's device, written without Qt. They send the tool's default frame (address 02,
// command RD) and wait with poll() for the whole reply.
//
//   bench_round_trip_floor udp <port> <trips> <pause>
//       (a) UDP from a bound socket
//   bench_round_trip_floor serial <path> <trips> <pause>
//       (a) serial, the line opened once
//   bench_round_trip_floor serial-reopen <path> <trips> <pause>
//       (b) serial, with what each SEND does on the serial link: close the line and drop its
//       lock file, take the lock file again, open and configure the line
//
// <pause> is the time in microseconds between two exchanges, not timed.
// Prints "median_us <m> lock_us <l> sync_us <s>": the median round trip, and for (b) the median
// time of taking and dropping the lock file and of its forced write to disk alone; then
// "trips_us" and every round trip.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kFrame[] = "\x07"
                      "02RDFF\x03";
constexpr std::size_t kFrameSize = sizeof kFrame - 1;
constexpr std::size_t kReplySize = 12; // 7 0 2 R D 1 2 . 5 x y ETX

double nowUs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + long(values.size() / 2), values.end());
    return values[values.size() / 2];
}

int pauseUs = 0;

void printTrips(const std::vector<double>& times) {
    std::printf("trips_us");
    for (const double us : times)
        std::printf(" %.2f", us);
    std::printf("\n");
}

void pauseBetweenTrips() {
    if (pauseUs > 0)
        usleep(useconds_t(pauseUs));
}

// The lock file this program holds, removed when it gives up.
std::string heldLock;

[[noreturn]] void die(const char* what) {
    std::perror(what);
    if (!heldLock.empty())
        unlink(heldLock.c_str());
    std::exit(1);
}

// A lock file left by a process that no longer runs is stale and may be removed.
void removeIfStale(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return;
    int pid = 0;
    const bool read = std::fscanf(file, "%d", &pid) == 1;
    std::fclose(file);
    if (read && pid > 0 && kill(pid, 0) != 0 && errno == ESRCH)
        unlink(path.c_str());
}

// Reads until the reply's ETX has come.
void readReply(int fd) {
    char buffer[256];
    std::size_t got = 0;
    while (got < kReplySize) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) != 1)
            die("no reply");
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EAGAIN)
            continue;
        if (n <= 0)
            die("read");
        got += std::size_t(n);
    }
    if (buffer[(got - 1) % sizeof buffer] != '\x03')
        die("reply");
}

// ---- UDP --------------------------------------------------------------------------------------

std::vector<double> udpTrips(int port, int trips) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        die("bind");
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    peer.sin_port = htons(std::uint16_t(port));
    std::vector<double> times;
    for (int i = 0; i < trips; ++i) {
        const double start = nowUs();
        if (sendto(fd, kFrame, kFrameSize, 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer) !=
            ssize_t(kFrameSize))
            die("sendto");
        readReply(fd);
        times.push_back(nowUs() - start);
        pauseBetweenTrips();
    }
    close(fd);
    return times;
}

// ---- serial -----------------------------------------------------------------------------------

// The lock file of a serial port as the serial port class takes it: LCK.. and the device's name
// in the system's lock folder, created exclusively, locked with flock(), holding the owner's
// process id, program name and host name, and forced to disk with fdatasync().
struct PortLock {
    std::string path;
    int fd = -1;
    double syncUs = 0;

    bool take() {
        removeIfStale(path);
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0)
            return false;
        heldLock = path;
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        char text[512];
        const int size =
            std::snprintf(text, sizeof text, "%d\nbench_round_trip_floor\n%s\n", getpid(), host);
        if (write(fd, text, std::size_t(size)) != size)
            return false;
        const double start = nowUs();
        fdatasync(fd);
        syncUs = nowUs() - start;
        return true;
    }
    void drop() {
        if (fd < 0)
            return;
        close(fd);
        unlink(path.c_str());
        heldLock.clear();
        fd = -1;
    }
};

std::string lockPathFor(const std::string& device) {
    std::string name = device;
    const std::size_t dev = name.rfind("/dev/", 0) == 0 ? 5 : 0;
    name = name.substr(dev);
    std::replace(name.begin(), name.end(), '/', '_');
    return "/var/lock/LCK.." + name;
}

// The line's settings from before it was opened, put back when it is closed.
termios restoredOnClose{};

int openLine(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        die("open");
    ioctl(fd, TIOCEXCL);
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        die("tcgetattr");
    restoredOnClose = settings;
    cfmakeraw(&settings);
    settings.c_cflag &= ~tcflag_t(CSIZE | CSTOPB | CRTSCTS);
    settings.c_cflag &= ~tcflag_t(PARENB);
    settings.c_cflag |= CS8 | CLOCAL | CREAD; // N81, as the benchmark chooses
    settings.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    cfsetispeed(&settings, B19200);
    cfsetospeed(&settings, B19200);
    if (tcsetattr(fd, TCSANOW, &settings) != 0)
        die("tcsetattr");
    return fd;
}

void closeLine(int fd) {
    tcsetattr(fd, TCSANOW, &restoredOnClose);
    ioctl(fd, TIOCNXCL);
    close(fd);
}

struct SerialFigures {
    std::vector<double> trips;
    std::vector<double> lock;
    std::vector<double> sync;
};

SerialFigures serialTrips(const std::string& path, int trips, bool reopen) {
    SerialFigures figures;
    PortLock lock{lockPathFor(path)};
    int fd = -1;
    if (!reopen) {
        if (!lock.take())
            die("lock");
        fd = openLine(path);
    }
    for (int i = 0; i < trips; ++i) {
        const double start = nowUs();
        if (reopen) {
            // Taking and dropping the lock file, timed apart from the rest of the reopening.
            double lockUs = 0;
            if (fd >= 0) {
                closeLine(fd);
                const double dropStart = nowUs();
                lock.drop();
                lockUs += nowUs() - dropStart;
            }
            const double takeStart = nowUs();
            if (!lock.take())
                die("lock");
            lockUs += nowUs() - takeStart;
            if (i > 0) {
                figures.lock.push_back(lockUs);
                figures.sync.push_back(lock.syncUs);
            }
            fd = openLine(path);
        }
        if (write(fd, kFrame, kFrameSize) != ssize_t(kFrameSize))
            die("write");
        readReply(fd);
        figures.trips.push_back(nowUs() - start);
        pauseBetweenTrips();
    }
    if (fd >= 0)
        closeLine(fd);
    lock.drop();
    return figures;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: bench_round_trip_floor udp|serial|serial-reopen <port or "
                             "path> <trips> <pause us>\n");
        return 2;
    }
    const std::string mode = argv[1];
    const int trips = std::max(1, std::atoi(argv[3]));
    pauseUs = std::max(0, std::atoi(argv[4]));
    if (mode == "udp") {
        const std::vector<double> times = udpTrips(std::atoi(argv[2]), trips);
        std::printf("median_us %.2f lock_us 0 sync_us 0\n", median(times));
        printTrips(times);
        return 0;
    }
    if (mode == "serial" || mode == "serial-reopen") {
        const SerialFigures f = serialTrips(argv[2], trips, mode == "serial-reopen");
        std::printf("median_us %.2f lock_us %.2f sync_us %.2f\n", median(f.trips), median(f.lock),
                    median(f.sync));
        printTrips(f.trips);
        return 0;
    }
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
