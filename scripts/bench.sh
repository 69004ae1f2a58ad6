#!/usr/bin/env bash
# Builds and runs every benchmark and prints their figures: the round trip SEND -> reply line
# over UDP and serial against its floors, the start-up against an empty QMainWindow, and the
# message window's receive path. The round trip binds UDP port 5000, so everything runs in a
# private network namespace of its own when the machine allows one.
#
#   scripts/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${VELMARIXON_BENCH_INSIDE:-0}" != 1 ]; then
    scripts/setup.sh >/dev/null
    echo "Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), $(uname -sr)"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    if $sudo unshare -n true 2>/dev/null; then
        exec $sudo env VELMARIXON_BENCH_INSIDE=1 BUILD_DIR="${BUILD_DIR:-build}" \
            unshare -n bash -c 'ip link set lo up && exec "$0"' "$0"
    fi
    echo "No private network namespace: running on this machine's own loopback." >&2
fi

bench=${BUILD_DIR:-build}/bench
export QT_QPA_PLATFORM=offscreen
"$bench/bench_round_trip"
echo
"$bench/bench_startup"
echo
"$bench/bench_message_window"
