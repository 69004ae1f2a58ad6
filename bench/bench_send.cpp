// velmarixon-send against a plain program doing the same exchanges with the device simulator,
// over UDP on 127.0.0.1 and over a pseudo-terminal, side by side in one run (alternating):
//
//   start:    one exchange per process, from the start to the exit
//   in a run: one exchange of --count 1000, the run's whole time shared out
//
// Target: an exchange in a run takes at most 1.5 times the plain loop's, on both links. Prints
// p50/p99 and the machine's load; on a busy machine the verdict is "inconclusive".
//
//   bench_send [starts] [runs]     (default 40 starts and 5 runs of 1000 per link)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
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

void measure(const Link& link, int starts, int runs) {
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
                          : !quiet                  ? "inconclusive"
                          : ratio <= 1.5            ? "met"
                                                    : "NOT MET";
    std::printf("%s  ratio per exchange %.2f (target <= 1.5)  load %.2f on %u cores: %s\n\n",
                link.name, ratio, load, cores, verdict);
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
    std::printf("load before: %.2f\n\n", loadAverage());
    measure({"udp", {"--port", "udp:127.0.0.1:" + udpPort, "--local-port", "0"}, {"udp", udpPort}},
            starts, runs);
    measure({"pty", {"--port", "COM1"}, {"serial", pty}}, starts, runs);
    kill(serialSim, SIGTERM);
    kill(udpSim, SIGTERM);
    waitpid(serialSim, nullptr, 0);
    waitpid(udpSim, nullptr, 0);
    return 0;
}
