#!/usr/bin/env bash
# Builds and runs every benchmark and prints their figures: the round trip SEND -> reply line
# painted over UDP, serial and (Com1 through ser2net) a device server against a plain Qt program
# and the floors, the start-up against a
# plain Qt window, the message window's receive path, the idle cost of a serial device that went
# away, velmarixon-send against a plain loop (also through ser2net over socket:// and
# rfc2217://), velmarixon-trend drawing files and live, and the UDP and serial floods. The round
# trip and the floods bind UDP port 5000, so everything runs in a private network namespace of
# its own when the machine allows one. The machine and its load are printed first; each
# benchmark prints the load around its own figures.
#
#   scripts/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${VELMARIXON_BENCH_INSIDE:-0}" != 1 ]; then
    # The floods are also measured from outside, by a second X client on a virtual display;
    # velmarixon-send is also measured through a real serial device server (ser2net).
    scripts/need-packages.sh xvfb xauth ser2net
    scripts/setup.sh >/dev/null
    echo "Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), $(uname -sr)," \
        "Qt $(pkg-config --modversion Qt6Core 2>/dev/null || echo '?')"
    echo "Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    # In the private namespace loopback gets a second address, of the documentation range:
    # ser2net looks up its listening address among the families this machine has an address of
    # beyond 127.0.0.1 and ::1 (getaddrinfo's AI_ADDRCONFIG), and finds none without it. The
    # namespace has no other interface, so nothing can be sent to it from there.
    if $sudo unshare -n true 2>/dev/null; then
        exec $sudo env VELMARIXON_BENCH_INSIDE=1 BUILD_DIR="${BUILD_DIR:-build}" \
            unshare -n bash -c 'ip link set lo up && ip addr add 192.0.2.1/32 dev lo && exec "$0"' "$0"
    fi
    echo "No private network namespace: running on this machine's own loopback." >&2
fi

bench=${BUILD_DIR:-build}/bench
export QT_QPA_PLATFORM=offscreen
# A build or test run just before leaves the one-minute load average high for a few minutes;
# the verdicts need it low, so the run waits for it (at most 5 minutes) and says so.
cores=$(nproc)
waited=0
while awk -v cores="$cores" '{ exit !($1 >= 0.5 * cores) }' /proc/loadavg && ((waited < 300)); do
    ((waited == 0)) && echo "Waiting for the one-minute load average to fall under 0.5 per core" \
        "(at most 5 minutes)"
    sleep 5
    waited=$((waited + 5))
done
((waited == 0)) || echo "Waited ${waited} s; load average now: $(cut -d' ' -f1-3 /proc/loadavg)"
started=$SECONDS
run() {
    echo "== $*"
    # One benchmark that fails or misses its target does not keep the others from running.
    "$@" || echo "(${!#} ended with status $?)"
    echo
}
for benchmark in bench_round_trip bench_startup bench_message_window bench_serial_hangup \
    bench_send bench_trend; do
    run "$bench/$benchmark"
done
# The floods on a virtual X display, where a second X client pings the window and pastes its
# selection; without Xvfb they run offscreen, timed from inside only.
for benchmark in bench_udp_flood bench_serial_flood; do
    if command -v xvfb-run >/dev/null; then
        # In a session of its own, which then holds just the benchmark, xvfb-run and Xvfb: the
        # benchmark counts the processor time of its session as its own and the rest as others'.
        QT_QPA_PLATFORM=xcb run setsid -w xvfb-run -a "$bench/$benchmark"
    else
        run setsid -w "$bench/$benchmark"
    fi
done
echo "All benchmarks in $((SECONDS - started)) s; load average at the end:" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
