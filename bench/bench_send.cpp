// velmarixon-send against a plain program doing the same exchanges with the device simulator,
// over UDP on 127.0.0.1, over a pseudo-terminal, and through a real serial device server
// (Debian's ser2net, in front of the simulator's pseudo-terminals) over raw TCP (socket://) and
// over RFC 2217 (rfc2217://, 19200 N81), side by side in one run (alternating):
//
//   start:    one exchange per process, from the start to the exit
//   in a run: one exchange of --count 1000, the run's whole time shared out
//
// Target: an exchange in a run takes at most 1.5 times the plain loop's, on every link. Prints
// p50/p99 and the machine's load; on a busy machine the verdict is "inconclusive". Without
// ser2net the device-server links are skipped.
//
// Where each process runs decides much of what an exchange costs on 127.0.0.1: a program that
// waits right after its write lets the system run the device on the same core and hand the
// answer back there (on this benchmark's first machine about 12 us a round trip), while a
// device woken on another core answers in about 80 us. Left to the scheduler, the plain loop
// lands now in one case and now in the other, and the ratio swung from 1.2 to 6 between runs
// of the same programs. So with two cores or more the device side (the simulators and ser2net)
// runs on a core of its own, as a device does on its own processor, and both programs on
// another: that is the measured case, with the target. For UDP and the pty the same runs are
// then repeated with everything on one core, for information: there each exchange costs the
// work of the program, the device and the system in turn, which shows the program's own work
// per exchange unhidden.
//
//   bench_send [starts] [runs]     (default 40 starts and 5 runs of 1000 per link)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const std::string kSend = VMX_SEND_PROGRAM;
const std::string kSim = VMX_SIM_PROGRAM;
const std::string kFloor = VMX_FLOOR_PROGRAM;
constexpr int kExchangesPerRun = 1000;

double nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Starts the program with its standard output going to `outPath`; returns its pid.
pid_t spawn(const std::vector<std::string>& arguments, const std::string& outPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Runs the program to its end; the milliseconds from start to exit, or -1 when it failed.
double timedRun(const std::vector<std::string>& arguments, const std::string& outPath) {
    const double start = nowMs();
    const pid_t pid = spawn(arguments, outPath);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return nowMs() - start;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

// The round trips of velmarixon-send's JSON records.
std::vector<double> recordTrips(const std::string& jsonl) {
    std::vector<double> trips;
    const std::string key = "\"round_trip_ms\":";
    for (size_t at = jsonl.find(key); at != std::string::npos; at = jsonl.find(key, at + 1))
        trips.push_back(std::atof(jsonl.c_str() + at + key.size()));
    return trips;
}

double loadAverage() {
    double load = 0;
    std::ifstream("/proc/loadavg") >> load;
    return load;
}

struct Link {
    const char* name;
    std::vector<std::string> sendPort; // velmarixon-send's options for it
    std::vector<std::string> floorPort;
};

// Where the processes run: the device side on one core, the programs on another.
struct Placement {
    int programCore = -1; // -1: wherever the system puts them
    int deviceCore = -1;
};

void runOn(pid_t pid, int core) {
    if (core < 0)
        return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    sched_setaffinity(pid, sizeof set, &set);
}

// The first and the last core this process may use; one core only: no placement.
Placement devicePlacement() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < 2)
        return {};
    Placement placement;
    for (int core = 0; core < CPU_SETSIZE; ++core) {
        if (!CPU_ISSET(core, &allowed))
            continue;
        if (placement.programCore < 0)
            placement.programCore = core;
        placement.deviceCore = core;
    }
    return placement;
}

void measure(const Link& link, int starts, int runs, bool forInformation = false) {
    const std::string out = "out.txt";
    std::vector<double> sendStart, floorStart;
    std::vector<std::string> sendOne{kSend};
    sendOne.insert(sendOne.end(), link.sendPort.begin(), link.sendPort.end());
    std::vector<std::string> floorOne{kFloor};
    floorOne.insert(floorOne.end(), link.floorPort.begin(), link.floorPort.end());
    for (int i = 0; i < starts; ++i) {
        auto send = sendOne;
        send.insert(send.end(), {"--count", "1"});
        auto floor = floorOne;
        floor.push_back("1");
        sendStart.push_back(timedRun(send, out));
        floorStart.push_back(timedRun(floor, out));
    }
    std::vector<double> sendPer, floorPer, sendTrips, floorP50, floorP99;
    for (int i = 0; i < runs; ++i) {
        auto send = sendOne;
        send.insert(send.end(), {"--count", std::to_string(kExchangesPerRun), "--output", "jsonl"});
        auto floor = floorOne;
        floor.push_back(std::to_string(kExchangesPerRun));
        sendPer.push_back(timedRun(send, out) / kExchangesPerRun);
        const std::vector<double> trips = recordTrips(readFile(out));
        sendTrips.insert(sendTrips.end(), trips.begin(), trips.end());
        floorPer.push_back(timedRun(floor, out) / kExchangesPerRun);
        double total = 0, p50 = 0, p99 = 0;
        std::sscanf(readFile(out).c_str(), "total_us %lf p50_us %lf p99_us %lf", &total, &p50,
                    &p99);
        floorP50.push_back(p50 / 1000);
        floorP99.push_back(p99 / 1000);
    }
    const bool failed = std::count(sendStart.begin(), sendStart.end(), -1.0) +
                            std::count(floorStart.begin(), floorStart.end(), -1.0) >
                        0;
    std::printf("%s  start to exit, one exchange (ms):  velmarixon-send p50 %.2f p99 %.2f   "
                "plain p50 %.2f p99 %.2f   ratio p50 %.2f\n",
                link.name, percentile(sendStart, .5), percentile(sendStart, .99),
                percentile(floorStart, .5), percentile(floorStart, .99),
                percentile(sendStart, .5) / percentile(floorStart, .5));
    std::printf("%s  per exchange in --count %d (ms):  velmarixon-send %.4f (round trip p50 %.3f "
                "p99 %.3f)   plain %.4f (round trip p50 %.3f p99 %.3f)\n",
                link.name, kExchangesPerRun, percentile(sendPer, .5), percentile(sendTrips, .5),
                percentile(sendTrips, .99), percentile(floorPer, .5), percentile(floorP50, .5),
                percentile(floorP99, .5));
    const double ratio = percentile(sendPer, .5) / percentile(floorPer, .5);
    const double load = loadAverage();
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const bool quiet = load < 1.0 * cores;
    const char* verdict = failed || sendPer.empty() ? "failed"
                          : forInformation          ? "for information"
                          : !quiet                  ? "inconclusive"
                          : ratio <= 1.5            ? "met"
                                                    : "NOT MET";
    std::printf("%s  ratio per exchange %.2f %s  load %.2f on %u cores: %s\n\n", link.name, ratio,
                forInformation ? "(all on one core)" : "(target <= 1.5)", load, cores, verdict);
}

// The simulator's first line, once it is ready (it writes its log to `path`).
std::string awaitReadyLine(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        const std::string text = readFile(path);
        if (const size_t end = text.find('\n'); end != std::string::npos)
            return text.substr(0, end);
        usleep(10000);
    }
    return {};
}

// The ser2net program, or an empty text when it is not installed.
std::string ser2netProgram() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/sbin/ser2net"}) {
        if (access(path, X_OK) == 0)
            return path;
    }
    return {};
}

// A port on 127.0.0.1 that nothing listens on right now: bound, read, released.
int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

// Whether something accepts connections on 127.0.0.1:port (ser2net, once its ports are up).
bool accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        close(fd);
    return connected;
}

// The slave side of a simulator's pseudo-terminal, from its first line "serial: LINK -> PTY, ...".
std::string ptyOf(const std::string& readyLine) {
    const size_t arrow = readyLine.find("-> ");
    if (arrow == std::string::npos)
        return {};
    return readyLine.substr(arrow + 3, readyLine.find(',') - arrow - 3);
}

// ser2net with a raw accepter in front of one simulator and a telnet(rfc2217) accepter in front of
// another: each accepter has its device to itself, so switching from one to the other never
// meets ser2net still closing the device for the last connection ("Port's device already in
// use"). The pid, or -1 when it did not come up.
pid_t startSer2net(const std::string& program, const std::string& rawDevice, int rawPort,
                   const std::string& telnetDevice, int telnetPort) {
    std::ofstream config("ser2net.yaml");
    config << "%YAML 1.1\n---\n"
           << "connection: &raw\n  accepter: tcp,127.0.0.1," << rawPort
           << "\n  connector: serialdev," << rawDevice << ",9600n81,local\n"
           << "  options:\n    mdns: false\n"
           << "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << telnetPort
           << "\n  connector: serialdev," << telnetDevice << ",9600n81,local\n"
           << "  options:\n    mdns: false\n";
    config.close();
    // -d: foreground, log to standard output; -u: no UUCP lock files.
    const pid_t pid = spawn({program, "-d", "-u", "-c", "ser2net.yaml"}, "ser2net.log");
    for (int i = 0; pid > 0 && i < 500; ++i) {
        if (accepts(rawPort) && accepts(telnetPort))
            return pid;
        usleep(10000);
    }
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    const int starts = argc > 1 ? std::atoi(argv[1]) : 40;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    char folder[] = "/tmp/bench_send.XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0)
        return 1;
    const pid_t serialSim = spawn({kSim, "serial", "--link", "COM1"}, "serial-sim.log");
    const pid_t udpSim = spawn({kSim, "udp", "--port", "0"}, "udp-sim.log");
    const std::string serialReady = awaitReadyLine("serial-sim.log");
    const std::string udpReady = awaitReadyLine("udp-sim.log");
    const size_t colon = udpReady.find("127.0.0.1:");
    if (serialReady.empty() || colon == std::string::npos) {
        std::fprintf(stderr, "the simulators did not start\n");
        return 1;
    }
    const std::string udpPort = std::to_string(std::atoi(udpReady.c_str() + colon + 10));
    const std::string pty = serialReady.substr(serialReady.find("-> ") + 3,
                                               serialReady.find(',') - serialReady.find("-> ") - 3);
    const Link udp{
        "udp", {"--port", "udp:127.0.0.1:" + udpPort, "--local-port", "0"}, {"udp", udpPort}};
    const Link serial{"pty", {"--port", "COM1"}, {"serial", pty}};
    const Placement placement = devicePlacement();
    runOn(0, placement.programCore);
    runOn(serialSim, placement.deviceCore);
    runOn(udpSim, placement.deviceCore);
    std::printf("load before: %.2f\n", loadAverage());
    if (placement.deviceCore >= 0)
        std::printf("the device side on core %d, the programs on core %d\n\n", placement.deviceCore,
                    placement.programCore);
    else
        std::printf("one core: the device and the programs share it\n\n");
    measure(udp, starts, runs);
    measure(serial, starts, runs);
    if (placement.deviceCore >= 0) {
        std::printf("everything on core %d:\n", placement.programCore);
        runOn(serialSim, placement.programCore);
        runOn(udpSim, placement.programCore);
        measure(udp, starts, runs, true);
        measure(serial, starts, runs, true);
    }
    kill(serialSim, SIGTERM);
    kill(udpSim, SIGTERM);
    waitpid(serialSim, nullptr, 0);
    waitpid(udpSim, nullptr, 0);

    const std::string ser2net = ser2netProgram();
    if (ser2net.empty()) {
        std::printf(
            "socket, rfc2217  skipped: ser2net is not installed (Debian package ser2net)\n");
        return 0;
    }
    const pid_t rawSim = spawn({kSim, "serial", "--link", "RAW"}, "raw-sim.log");
    const pid_t telnetSim = spawn({kSim, "serial", "--link", "TELNET"}, "telnet-sim.log");
    runOn(rawSim, placement.deviceCore);
    runOn(telnetSim, placement.deviceCore);
    const std::string rawPty = ptyOf(awaitReadyLine("raw-sim.log"));
    const std::string telnetPty = ptyOf(awaitReadyLine("telnet-sim.log"));
    const int rawPort = freePort();
    const int telnetPort = freePort();
    const pid_t server = rawPty.empty() || telnetPty.empty()
                             ? -1
                             : startSer2net(ser2net, std::string(folder) + "/RAW", rawPort,
                                            std::string(folder) + "/TELNET", telnetPort);
    if (server < 0) {
        std::fprintf(stderr, "ser2net or its simulators did not start\n");
    } else {
        runOn(server, placement.deviceCore);
        const std::string raw = std::to_string(rawPort);
        const std::string telnet = std::to_string(telnetPort);
        // ser2net holds the raw line at 9600 8N1 as configured; over RFC 2217 both sides ask
        // for 19200 N81, so ser2net's wait for the line to go quiet is the same for both.
        measure({"socket", {"--port", "socket://127.0.0.1:" + raw}, {"tcp", raw}}, starts, runs);
        measure({"rfc2217",
                 {"--port", "rfc2217://127.0.0.1:" + telnet, "--baud", "19200", "--format", "N81"},
                 {"rfc2217", telnet}},
                starts, runs);
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    kill(rawSim, SIGTERM);
    kill(telnetSim, SIGTERM);
    waitpid(rawSim, nullptr, 0);
    waitpid(telnetSim, nullptr, 0);
    return 0;
}
