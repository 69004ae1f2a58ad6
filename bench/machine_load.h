#pragma once

// The machine's load around a benchmark, and the verdict it allows. A figure measured while other
// programs compete for the processors says little about the program: on a busy machine the
// floors slow down more than the program does (their wake-ups wait for a processor) and the
// ratios flatter it, so a target is called met or missed only when the machine was quiet.
//
// Quiet: the one-minute load average, read before and after the measurement, stays under
// 1.0 per core (the benchmark's own processes included).

#include <algorithm>
#include <cstdio>
#include <string>
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

// The value below which the share `q` (0.5 for the median, 0.99) of the values lie.
inline double percentile(std::vector<double> values, double q) {
    if (values.empty())
        return 0;
    const auto at = std::min(values.size() - 1, std::size_t(q * double(values.size())));
    std::nth_element(values.begin(), values.begin() + long(at), values.end());
    return values[at];
}

} // namespace vmx::bench
