#pragma once

// The machine's load around a benchmark, and the verdict it allows. A figure measured while other
// programs compete for the processors says little about the program: on a busy machine the
// floors slow down more than the program does (their wake-ups wait for a processor) and the
// ratios flatter it, so a target is called met or missed only when the machine was quiet.
//
// Quiet, for all but the floods (below): the one-minute load average, read before and after the
// measurement, stays under 1.0 per core (the benchmark's own processes included).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <map>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace vmx::bench {

inline double loadAverage() {
    double one = -1;
    if (FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(file, "%lf", &one) != 1)
            one = -1;
        std::fclose(file);
    }
    return one;
}

inline int cores() {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? int(online) : 1;
}

class LoadWatch {
public:
    LoadWatch() : before_(loadAverage()) {}
    // Reads the load after the measurement and prints both.
    void finish() {
        after_ = loadAverage();
        std::printf("  load average (1 min) before %.2f, after %.2f on %d cores: %s\n", before_,
                    after_, cores(),
                    quiet() ? "quiet"
                            : "busy (quiet is under 1.0 per core), verdicts inconclusive");
    }
    bool quiet() const {
        const double limit = 1.0 * cores();
        return before_ >= 0 && after_ >= 0 && before_ < limit && after_ < limit;
    }
    // "met", "NOT MET", or "inconclusive" on a busy machine.
    const char* verdict(bool met) const {
        if (!quiet())
            return "inconclusive";
        return met ? "met" : "NOT MET";
    }

private:
    double before_;
    double after_ = -1;
};

// Quiet during a flood: a flood keeps both cores busy by itself (its sender, the window, the
// plain receiver, the X server and the X probe), so the load average always reads busy. Instead
// the processor time that the rest of the machine used during the flood must stay under 0.25
// of a core on average: the busy time of /proc/stat minus the time of the benchmark's own
// processes, which are the benchmark with the children it waited for, and every other process
// of its session (run it under setsid, so that the session holds only the benchmark, xvfb-run
// and Xvfb). Busy is user, nice and system; steal and iowait are no process's. Irq and softirq
// (much of it the flood's own loopback traffic) count only where the kernel charges them to the
// process they interrupted, as a kernel built without CONFIG_IRQ_TIME_ACCOUNTING does: there
// the benchmark's own times hold its share already, and leaving them out would hide the rest.
// The one-minute load average before the flood is printed but does not gate: benchmarks run
// back to back, and the one before inflates it.
class FloodQuietWatch {
public:
    static constexpr double kQuietCores = 0.25;

    // Call before the flood's helper processes start.
    FloodQuietWatch()
        : loadBefore_(loadAverage()), busyBefore_(busyTicks()), selfBefore_(selfTicks()),
          sessionBefore_(sessionTicks()) {
        clock_gettime(CLOCK_MONOTONIC, &start_);
    }

    // Call after the flood's helper processes have been waited for.
    void finish() {
        timespec end{};
        clock_gettime(CLOCK_MONOTONIC, &end);
        const double seconds =
            double(end.tv_sec - start_.tv_sec) + double(end.tv_nsec - start_.tv_nsec) / 1e9;
        const long busy = busyTicks() - busyBefore_;
        long own = selfTicks() - selfBefore_;
        const std::map<pid_t, long> sessionAfter = sessionTicks();
        // A process of the session seen only at the end started during the flood: all its time
        // counts. One seen only at the start ended during it: its last moments are not seen,
        // which can only make the others' share look larger, never the machine look quieter.
        for (const auto& [pid, ticks] : sessionAfter) {
            const auto before = sessionBefore_.find(pid);
            own += ticks - (before == sessionBefore_.end() ? 0 : before->second);
        }
        sessionProcesses_ = int(sessionAfter.size()) + 1;
        const long ticksPerSecond = sysconf(_SC_CLK_TCK);
        // Ticks of /proc/stat and the processes' own times are rounded differently, so the
        // difference can fall a little below zero on an idle machine.
        othersCores_ = seconds > 0 && ticksPerSecond > 0
                           ? std::max(0.0, double(busy - own) / double(ticksPerSecond) / seconds)
                           : -1;
    }
    bool quiet() const { return othersCores_ >= 0 && othersCores_ < kQuietCores; }
    // "  machine load: ..." and "  other processes used ...", each ending in a new line.
    void print() const {
        std::printf("  machine load: %.2f per core (one-minute average before the flood)\n",
                    loadBefore_ / cores());
        std::printf("  other processes used %.2f cores during the flood, besides the %d of the "
                    "benchmark's session (quiet is under %.2f): %s\n",
                    othersCores_, sessionProcesses_, kQuietCores,
                    quiet() ? "quiet" : "busy, verdicts inconclusive");
    }

private:
    // Whether the kernel keeps the time spent in interrupts apart from the processes' times
    // (unknown counts as no: the others' share then errs on the busy side).
    static bool interruptTimeKeptApart() {
        static const bool apart = [] {
            bool found = false;
            if (FILE* config = popen("{ zcat /proc/config.gz || cat /boot/config-$(uname -r); } "
                                     "2>/dev/null",
                                     "r")) {
                char line[256];
                while (std::fgets(line, sizeof line, config))
                    found = found || std::strcmp(line, "CONFIG_IRQ_TIME_ACCOUNTING=y\n") == 0;
                pclose(config);
            }
            return found;
        }();
        return apart;
    }
    // user + nice + system of all processors, and irq + softirq where they are processes' time.
    static long busyTicks() {
        const bool interruptsApart = interruptTimeKeptApart(); // before the read: it runs zcat
        long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
        if (FILE* file = std::fopen("/proc/stat", "r")) {
            if (std::fscanf(file, "cpu %ld %ld %ld %ld %ld %ld %ld", &user, &nice, &system, &idle,
                            &iowait, &irq, &softirq) != 7)
                user = nice = system = irq = softirq = 0;
            std::fclose(file);
        }
        return user + nice + system + (interruptsApart ? 0 : irq + softirq);
    }
    // utime + stime of a /proc/PID/stat, cutime + cstime (its children's that it waited for),
    // and its session id.
    static bool statTicks(const std::string& path, long& ticks, long& children, long& session) {
        FILE* file = std::fopen(path.c_str(), "r");
        if (!file)
            return false;
        char line[1024];
        const bool read = std::fgets(line, sizeof line, file) != nullptr;
        std::fclose(file);
        // The command name, in parentheses, may hold spaces and parentheses itself.
        const char* afterName = read ? std::strrchr(line, ')') : nullptr;
        long utime = 0, stime = 0, cutime = 0, cstime = 0;
        if (!afterName ||
            std::sscanf(afterName + 1,
                        " %*c %*d %*d %ld %*d %*d %*u %*u %*u %*u %*u %ld %ld %ld %ld", &session,
                        &utime, &stime, &cutime, &cstime) != 5)
            return false;
        ticks = utime + stime;
        children = cutime + cstime;
        return true;
    }
    static long selfTicks() {
        long ticks = 0, children = 0, session = 0;
        return statTicks("/proc/self/stat", ticks, children, session) ? ticks + children : 0;
    }
    // The other processes of the benchmark's session and their own times (not their children's:
    // a child that ended during the flood would bring along its time from before it).
    static std::map<pid_t, long> sessionTicks() {
        std::map<pid_t, long> found;
        const pid_t self = getpid();
        const pid_t ours = getsid(0);
        DIR* proc = opendir("/proc");
        if (!proc)
            return found;
        while (const dirent* entry = readdir(proc)) {
            char* end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            long ticks = 0, children = 0, session = 0;
            if (*end == '\0' && pid > 0 && pid != self &&
                statTicks("/proc/" + std::string(entry->d_name) + "/stat", ticks, children,
                          session) &&
                session == ours)
                found[pid_t(pid)] = ticks;
        }
        closedir(proc);
        return found;
    }

    double loadBefore_;
    long busyBefore_;
    long selfBefore_;
    std::map<pid_t, long> sessionBefore_;
    timespec start_{};
    double othersCores_ = -1;
    int sessionProcesses_ = 0;
};

// The value below which the share `q` (0.5 for the median, 0.99) of the values lie.
inline double percentile(std::vector<double> values, double q) {
    if (values.empty())
        return 0;
    const auto at = std::min(values.size() - 1, std::size_t(q * double(values.size())));
    std::nth_element(values.begin(), values.begin() + long(at), values.end());
    return values[at];
}

} // namespace vmx::bench
