// Start-up: from starting the process to the first paint of its main window (offscreen), for the
// program's start (startup_velmarixon, which creates, reads and applies the settings file as a
// first start does) against a plain Qt program with a window of the same widgets, linked with
// the same Qt modules and built with the same flags (startup_plain_window). Each start runs in a
// fresh empty folder; the two programs take turns, each pair in the other order than the last,
// so a busy moment of the machine falls on both.
//
//   bench_startup [starts]    (default 40 of each)
//
// Prints p50 and p99 [min .. max] per program, the ratio of the medians and the machine's load;
// on a busy machine the verdict is "inconclusive".
#include "machine_load.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

double nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

[[noreturn]] void die(const char* what) {
    std::perror(what);
    std::exit(1);
}

// Starts `program` in a fresh folder and returns the milliseconds until it says "painted".
double timeToFirstPaint(const std::string& program) {
    char folderTemplate[] = "/tmp/velmarixon-startup-XXXXXX";
    const char* folder = mkdtemp(folderTemplate);
    if (!folder)
        die("mkdtemp");
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        die("pipe");

    const double start = nowMs();
    const pid_t child = fork();
    if (child < 0)
        die("fork");
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        // Qt's notes about a missing runtime folder and the like would only clutter the figures.
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDERR_FILENO);
        close(quiet);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        if (chdir(folder) != 0)
            _exit(126);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string said;
    char buffer[64];
    ssize_t n;
    while (said.find("painted\n") == std::string::npos &&
           (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        said.append(buffer, std::size_t(n));
    const double elapsed = nowMs() - start;
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    std::filesystem::remove_all(folder);
    if (said.find("painted\n") == std::string::npos) {
        std::fprintf(stderr, "%s ended without painting (status %d)\n", program.c_str(), status);
        std::exit(1);
    }
    return elapsed;
}

using vmx::bench::percentile;

void print(const char* name, const std::vector<double>& ms) {
    const auto [low, high] = std::minmax_element(ms.begin(), ms.end());
    std::printf("  %-44s %7.1f %7.1f ms  [%6.1f .. %6.1f]\n", name, percentile(ms, 0.5),
                percentile(ms, 0.99), *low, *high);
}

} // namespace

int main(int argc, char* argv[]) {
    const int starts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    const std::string here = std::filesystem::canonical("/proc/self/exe").parent_path().string();
    const std::string program = here + "/startup_velmarixon";
    const std::string plain = here + "/startup_plain_window";

    // The first start of each fills the system's file cache; it does not count.
    timeToFirstPaint(program);
    timeToFirstPaint(plain);

    vmx::bench::LoadWatch load;
    std::vector<double> programMs;
    std::vector<double> plainMs;
    for (int i = 0; i < starts; ++i) {
        if (i % 2 == 0) {
            programMs.push_back(timeToFirstPaint(program));
            plainMs.push_back(timeToFirstPaint(plain));
        } else {
            plainMs.push_back(timeToFirstPaint(plain));
            programMs.push_back(timeToFirstPaint(program));
        }
    }
    std::printf("Start-up, process start to the first paint of the main window (offscreen), "
                "%d starts each in a fresh folder,\ntaking turns; p50 p99 [min .. max]\n",
                starts);
    load.finish();
    print("program (main window, first settings file)", programMs);
    print("plain Qt window, the same widgets", plainMs);
    const double ratio = percentile(programMs, 0.5) / percentile(plainMs, 0.5);
    std::printf("  %-44s %7.2f %7.2f     target p50 <= 1.15: %s\n", "program / plain Qt window",
                ratio, percentile(programMs, 0.99) / percentile(plainMs, 0.99),
                load.verdict(ratio <= 1.15));
    return 0;
}
