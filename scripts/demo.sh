#!/usr/bin/env bash
# Starts the tool on two simulated devices, so that it answers at once without a device. A demo
# folder inside the build folder holds COM1, a link to a device simulator's pseudo-terminal, and
# velmarixon.ini, which selects Com1 and aims the IP fields at a second simulator on UDP at
# 127.0.0.1. Closing the tool, or Ctrl+C, ends both simulators and removes the link. A later
# start reuses the folder and keeps the settings EXIT saved there. start.sh calls it after
# building.
#
#   BUILD_DIR             the build folder (default: build/ in the repository)
#   VELMARIXON_DEMO_DIR   the demo folder (default: demo/ in the build folder)
#   VELMARIXON_DEMO_TOOL  a shell command started in the demo folder instead of the window
#
# demo.sh --check-display only checks that the window has a display to go on.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-build}"
case "$build_dir" in /*) ;; *) build_dir="$repo/$build_dir" ;; esac
demo_dir="${VELMARIXON_DEMO_DIR:-$build_dir/demo}"
sim="$build_dir/tools/velmarixon-device-sim"
send="$build_dir/src/velmarixon-send"
window="$build_dir/src/velmarixon"
tool="${VELMARIXON_DEMO_TOOL:-}"
address=1 # of both simulated devices, and of a first start's settings
# The reading both devices answer: it starts at 12.5, swings, settles near 13 and drifts, then
# starts again, so that a trend of it (velmarixon-trend) shows a curve.
readings=12.5,12.61,12.71,12.90,13.11,13.22,13.27,13.32,13.27,13.13,13.06,12.97,12.84,12.81,12.85,12.84,12.88,12.99,13.04,13.05,13.12,13.14,13.07,13.05,13.05,12.97,12.93,12.96,12.94,12.91,12.98,13.14,13.11,13.16,13.21,13.17,13.16,13.20,13.16,13.12,13.16,13.16,13.11,13.15,13.19,13.16,13.17,13.23

check_display() {
    case "${QT_QPA_PLATFORM:-}" in
    "" | xcb* | wayland*)
        if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
            echo "No display to show the window on (DISPLAY is not set): run  xvfb-run -a ./scripts/start.sh  instead." >&2
            return 1
        fi
        ;;
    esac
}

if [ "${1:-}" = --check-display ]; then
    check_display
    exit
fi
[ -n "$tool" ] || check_display
not_built() {
    echo "$1 is not built; run ./scripts/start.sh" >&2
    exit 1
}
[ -x "$sim" ] || not_built "$sim"
[ -x "$send" ] || not_built "$send"
[ -n "$tool" ] || [ -x "$window" ] || not_built "$window"

mkdir -p "$demo_dir"
cd "$demo_dir"

serial_pid="" udp_pid="" tool_pid="" serial_pty=""
cleanup() {
    trap - EXIT INT TERM HUP
    local pid
    for pid in $tool_pid $serial_pid $udp_pid; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in $tool_pid $serial_pid $udp_pid; do wait "$pid" 2>/dev/null || true; done
    # The simulator removes its link as it ends; one that was killed outright leaves it behind.
    if [ -n "$serial_pty" ] && [ "$(readlink COM1 2>/dev/null)" = "$serial_pty" ]; then
        rm -f COM1
    fi
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM
trap 'cleanup; exit 129' HUP

# Prints the simulator's first line, which it writes once it is ready; fails when the simulator
# ends first or is not ready within 10 s.
wait_ready() {
    local pid=$1 log=$2 pattern=$3 i
    for ((i = 0; i < 200; i++)); do
        grep -m1 -E "$pattern" "$log" 2>/dev/null && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}

failed_to_start() {
    echo "The $1 device simulator did not start:" >&2
    cat "$2" >&2
    exit 1
}

"$sim" serial --link COM1 --address "$address" --reading-list "$readings" </dev/null >serial-device.log 2>&1 &
serial_pid=$!
ready=$(wait_ready "$serial_pid" serial-device.log '^serial: ') ||
    failed_to_start serial serial-device.log
serial_pty=${ready#* -> }
serial_pty=${serial_pty%%,*}

# The UDP simulator takes the port the settings file holds when it is free, so a saved file
# stays as it is; otherwise a free port, which then goes into the file's IP port line.
stored_port=""
if [ -f velmarixon.ini ]; then
    stored_port=$(sed -n '6s/^"[^"]*","\([0-9]\{1,5\}\)"\r\{0,1\}$/\1/p' velmarixon.ini)
fi
udp_ready=""
for port in $stored_port 0; do
    "$sim" udp --port "$port" --address "$address" --reading-list "$readings" </dev/null >udp-device.log 2>&1 &
    udp_pid=$!
    if udp_ready=$(wait_ready "$udp_pid" udp-device.log '^udp: listening'); then
        break
    fi
    wait "$udp_pid" 2>/dev/null || true
    udp_pid=""
done
[ -n "$udp_pid" ] || failed_to_start UDP udp-device.log
udp_port=$(sed 's/.*127\.0\.0\.1:\([0-9]*\),.*/\1/' <<<"$udp_ready")

# The settings file is written by the program's own writer (velmarixon-send --write-settings),
# as EXIT writes it: a first start's Com1 with the IP fields on the UDP simulator; a later start
# whose UDP port moved changes only that field of what EXIT saved here.
if [ ! -e velmarixon.ini ]; then
    "$send" --write-settings velmarixon.ini --port COM1 --address "$address" \
        --ip-address 127.0.0.1 --ip-port "$udp_port"
elif [ "$stored_port" != "$udp_port" ]; then
    "$send" --write-settings velmarixon.ini --ip-port "$udp_port" 2>/dev/null ||
        echo "Note: velmarixon.ini here cannot be read as the window's settings and is left alone; the UDP device is on port $udp_port."
fi

cat <<EOF
Velmarixon demo in $demo_dir
  Com1: a simulated device at address $address on a pseudo-terminal (its log: serial-device.log)
  Udp:  a simulated device at address $address on 127.0.0.1:$udp_port (its log: udp-device.log)
Press Enter in the window to SEND RD over Com1: the reply 12.5 appears, and each SEND after it
gets the device's next reading. Choose Udp and press SEND to ask over UDP. To watch the reading
as a trend, in a second terminal:
  $build_dir/src/velmarixon-send --port udp:127.0.0.1:$udp_port --local-port 0 --count 0 --interval-ms 500 --output jsonl | $build_dir/src/velmarixon-trend
EXIT keeps the settings here for the next start; closing the window or
Ctrl+C here ends the demo. With real devices: ./scripts/start.sh --here
EOF

# In the background, so that Ctrl+C reaches the trap at once; the terminal stays its input.
if [ -n "$tool" ]; then
    sh -c "$tool" <&0 &
else
    "$window" <&0 &
fi
tool_pid=$!
status=0
wait "$tool_pid" || status=$?
tool_pid=""
exit "$status"
