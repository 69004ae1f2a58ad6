#!/usr/bin/env bash
# Kills the real program with SIGKILL at random moments around the save that EXIT makes, RUNS
# times (default 200), and checks from outside that the settings file holds its old bytes or the
# new ones, and that nothing else is left beside it once the program has started again.
#
#   scripts/killed-saves.sh [--named] [RUNS]
#
# Each run starts the program on a private Xvfb display in a fresh folder whose settings file
# has LF line ends, which EXIT writes back with CR LF: the old bytes and the new ones differ
# without any input. EXIT is reached as the operator's keyboard reaches it: Tab from the first
# stop (the port, the baud rate, SEND, the command, EXIT), and EXIT saves as it takes the focus.
# The kill comes after a random delay of up to twice the time an uninterrupted save takes.
#
# --named runs the program in a mount namespace of its own with an empty /proc (needs root), as
# on a system without /proc, so that every save goes through a named temporary file.
# BUILD_DIR chooses the build (default build); the program must be built (scripts/setup.sh).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-build}"
case "$build_dir" in /*) ;; *) build_dir="$repo/$build_dir" ;; esac
program="$build_dir/src/velmarixon"
named=0
[ "${1:-}" = "--named" ] && named=1 && shift
runs="${1:-200}"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [--named] [RUNS]" >&2; exit 2; }
[ -x "$program" ] || { echo "$program is missing: build it first (scripts/setup.sh)" >&2; exit 2; }
"$repo/scripts/need-packages.sh" xvfb xdotool

work="$(mktemp -d)"
xvfb_pid=""
trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid"; rm -rf "$work"' EXIT
# -noreset: the server would otherwise reset whenever its last client goes.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
DISPLAY=":$(cat "$work/display")"
export DISPLAY QT_QPA_PLATFORM=xcb

# The clock in microseconds, and pauses, without starting a process (a fork takes milliseconds
# on a busy machine): a pause is a read that never gets data.
stamp() { printf -v "$1" '%s' "${EPOCHREALTIME/./}"; }
exec {idle}<> <(:)
pause_us() {
    local seconds
    printf -v seconds '%d.%06d' $(($1 / 1000000)) $(($1 % 1000000))
    read -r -t "$seconds" -u "$idle" || true
}
# The last Tab, on request, from a process of its own: the clock of a kill starts at the request.
coproc keys { while read -r _; do xdotool key Tab; echo sent; done; }

# Starts the program in folder $1 and Tabs to the command box, one stop before EXIT.
start_before_exit() {
    if ((named)); then
        # shellcheck disable=SC2016
        (cd "$1" && exec unshare -m --propagation private \
            sh -c 'mount -t tmpfs none /proc && exec "$0"' "$program") 2>>"$work/program.log" &
    else
        (cd "$1" && exec "$program") 2>>"$work/program.log" &
    fi
    pid=$!
    local window
    window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" | head -n 1) || true
    [ -n "$window" ] || { echo "the window of process $pid did not show" >&2; exit 1; }
    xdotool windowfocus --sync "$window" key --delay 50 Tab Tab Tab
}
end_of() { timeout 20 tail --pid="$1" -f /dev/null || { echo "process $1 did not end" >&2; exit 1; }; }
leftovers() { find "$1" -mindepth 1 ! -name velmarixon.ini | wc -l; }

# The new bytes: what a first start writes. The old ones: the same with LF line ends.
folder=$(mktemp -d "$work/run-XXXX")
start_before_exit "$folder"
kill "$pid"; end_of "$pid"
cp "$folder/velmarixon.ini" "$work/new.ini"
sed 's/\r$//' "$work/new.ini" >"$work/old.ini"

# Three uninterrupted saves: each must write the new bytes; the middle time sets the kills' span.
times=()
for _ in 1 2 3; do
    folder=$(mktemp -d "$work/run-XXXX")
    cp "$work/old.ini" "$folder/velmarixon.ini"
    start_before_exit "$folder"
    deadline=$((SECONDS + 20))
    stamp started
    echo >&"${keys[1]}"
    until ! cmp -s "$folder/velmarixon.ini" "$work/old.ini" || ((SECONDS > deadline)); do :; done
    stamp now
    times+=($((now - started)))
    read -r _ <&"${keys[0]}"
    end_of "$pid"
    cmp -s "$folder/velmarixon.ini" "$work/new.ini" || { echo "EXIT did not write the new bytes" >&2; exit 1; }
done
span=$(($(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p) * 2))

old=0 new=0 neither=0 extra_after_kill=0 extra_after_restart=0
for ((run = 1; run <= runs; run++)); do
    folder=$(mktemp -d "$work/run-XXXX")
    cp "$work/old.ini" "$folder/velmarixon.ini"
    start_before_exit "$folder"
    delay=$(((RANDOM * 32768 + RANDOM) % (span + 1)))
    echo >&"${keys[1]}"
    pause_us "$delay"
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    read -r _ <&"${keys[0]}"
    if cmp -s "$folder/velmarixon.ini" "$work/old.ini"; then
        ((++old))
    elif cmp -s "$folder/velmarixon.ini" "$work/new.ini"; then
        ((++new))
    else
        ((++neither))
        echo "run $run (kill after $delay us): the settings file is missing or neither old nor new" >&2
    fi
    if (($(leftovers "$folder") > 0)); then
        # The next start removes what a killed save left once its window is up.
        ((++extra_after_kill))
        start_before_exit "$folder"
        echo >&"${keys[1]}"
        read -r _ <&"${keys[0]}"
        end_of "$pid"
        if (($(leftovers "$folder") > 0)); then
            ((++extra_after_restart))
            ls -la "$folder" >&2
        fi
    fi
    rm -rf "$folder"
done

path="unnamed temporary file (O_TMPFILE) where the file system has it"
((named)) && path="named temporary file (no /proc)"
cat <<EOF
Killed saves: $runs runs, $path; kills 0 to $((span / 1000)) ms after the Tab to EXIT
  old file (killed before the save ended):     $old
  new file (killed after the save ended):      $new
  extra file right after the kill:             $extra_after_kill
  extra file after the next start (must be 0): $extra_after_restart
  file missing or other bytes (must be 0):     $neither
EOF
((extra_after_restart == 0 && neither == 0))
