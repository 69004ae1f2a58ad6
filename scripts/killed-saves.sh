#!/usr/bin/env bash
# Kills the real program with SIGKILL at random moments around the save that EXIT makes, RUNS
# times (default 200), and checks from outside that nothing but velmarixon.ini is left beside
# it and that the file holds either its old bytes or the new ones, never anything else.
#
#   scripts/killed-saves.sh [--named] [RUNS]
#
# Each run starts the program in a fresh folder holding a known settings file, chooses 9600 baud
# and clicks EXIT with xdotool on a private Xvfb display, then kills the program after a random
# delay of up to twice the time an uninterrupted EXIT takes to replace the file (EXIT saves as
# soon as the press gives it the focus). A temporary file left by a kill must be gone once the
# program has started again and quit by EXIT.
#
# --named runs the program in a mount namespace of its own with an empty /proc (needs root), as
# on a system without /proc: an unnamed file could not be given its name there, so every save
# goes through a named temporary file.
#
# BUILD_DIR chooses the build (default build); the program must be built (scripts/setup.sh).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-build}"
case "$build_dir" in /*) ;; *) build_dir="$repo/$build_dir" ;; esac
program="$build_dir/src/velmarixon"

named=0
if [ "${1:-}" = "--named" ]; then
    named=1
    shift
fi
runs="${1:-200}"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || {
    echo "usage: $0 [--named] [RUNS]" >&2
    exit 2
}
[ -x "$program" ] || {
    echo "$program is missing: build it first (scripts/setup.sh)" >&2
    exit 2
}
"$repo/scripts/need-packages.sh" xvfb xdotool

settings=velmarixon.ini
work="$(mktemp -d)"
xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# The folders the program runs in.
scratch_root="$work/runs"
mkdir -p "$scratch_root"

# One display for the whole loop; -displayfd picks a free number. Without -noreset the server
# resets whenever its last client goes, and an xdotool that connects meanwhile fails.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.05
done
[ -s "$work/display" ] || {
    cat "$work/xvfb.log" >&2
    exit 1
}
DISPLAY=":$(cat "$work/display")"
export DISPLAY QT_QPA_PLATFORM=xcb

# Timing without starting a process (a fork takes milliseconds on a busy machine): pauses are
# reads that never get data, the clock is read into a variable, files are read by read.
exec {idle}<> <(:)
pause() { read -r -t "$1" -u "$idle" || true; }
stamp() { printf -v "$1" '%s' "${EPOCHREALTIME/./}"; }
slurp() { IFS= read -r -d '' "$1" <"$2" || true; }
ms() { printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); }

# Clicks where the pointer is, on request. Its own fork of xdotool costs this loop nothing, so
# the clock of a kill starts at the request and early kills land before the program sees the
# click. EXIT acts on the press already: it saves and ends as soon as it takes the focus.
coproc clicker { while read -r _; do
    xdotool click 1
    echo clicked
done; }
click() { echo click >&"${clicker[1]}"; }
clicked() { read -r _ <&"${clicker[0]}"; }

# Starts the program in folder $1; sets pid and window.
pid=""
window=""
start_program() {
    if ((named)); then
        # Each step execs the next, so the process is the program's own. "$0" is for the inner sh.
        # shellcheck disable=SC2016
        (cd "$1" && exec unshare -m --propagation private \
            sh -c 'mount -t tmpfs none /proc && exec "$0"' "$program") 2>>"$work/program.log" &
    else
        (cd "$1" && exec "$program") 2>>"$work/program.log" &
    fi
    pid=$!
    window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" | head -n 1) || true
    [ -n "$window" ] || {
        echo "the window of process $pid did not show" >&2
        exit 1
    }
}

# The window has no window manager around it: its height is the menu bar's plus the client's
# fixed 355 pixels (5325 twips). Points in the client's coordinates, from main_form_layout.cpp:
# the 9600 option button and the middle of EXIT.
client_top=0
locate_client() {
    local HEIGHT=""
    eval "$(xdotool getwindowgeometry --shell "$window" | grep '^HEIGHT=')"
    client_top=$((HEIGHT - 355))
}
choose_9600_and_point_at_exit() {
    locate_client
    xdotool mousemove --window "$window" 456 $((client_top + 120)) click 1 \
        mousemove --window "$window" 700 $((client_top + 320))
}

# Waits for the program to end, 20 s at most. The shell collects an ended child at once, so the
# signal test fails from then on.
await_end() {
    local tries=0
    while kill -0 "$pid" 2>/dev/null; do
        ((++tries < 20000)) || {
            echo "the program did not end after EXIT" >&2
            exit 1
        }
        pause 0.001
    done
    wait "$pid" || true
}

# An uninterrupted EXIT in folder $1, timed from the request to click as the kills are:
# sets saved (the new file seen in place) and ended (the process gone), in microseconds.
saved=0
ended=0
exit_and_time() {
    local started now old_bytes bytes tries=0
    slurp old_bytes "$work/old.ini"
    bytes=$old_bytes
    stamp started
    click
    while [[ "$bytes" == "$old_bytes" ]] && ((++tries < 1000000)); do slurp bytes "$1/$settings"; done
    stamp now
    saved=$((now - started))
    await_end
    stamp now
    ended=$((now - started))
    clicked
}

fresh_folder() { mktemp -d "$scratch_root/run-XXXXXX"; }

# The old file: the one a first start writes, with a command text that no save here writes.
folder=$(fresh_folder)
start_program "$folder"
locate_client
xdotool mousemove --window "$window" 700 $((client_top + 320)) click 1
await_end
sed 's/"RD"/"KILLED-SAVE-OLD"/' "$folder/$settings" >"$work/old.ini"
rm -rf "$folder"

# The new file, and when an uninterrupted EXIT has written it: five times, as a busy machine
# makes single ones late.
save_times=()
latest_end=0
for _ in 1 2 3 4 5; do
    folder=$(fresh_folder)
    cp "$work/old.ini" "$folder/$settings"
    start_program "$folder"
    choose_9600_and_point_at_exit
    exit_and_time "$folder"
    save_times+=("$saved")
    ((ended > latest_end)) && latest_end=$ended
    cp "$folder/$settings" "$work/new.ini"
    rm -rf "$folder"
done
mapfile -t save_times < <(printf '%s\n' "${save_times[@]}" | sort -n)
middle_save=${save_times[2]}
latest_save=${save_times[4]}
if cmp -s "$work/old.ini" "$work/new.ini"; then
    echo "EXIT wrote the old bytes again: the 9600 click did not reach the window" >&2
    exit 1
fi
# Kills spread from the request to click EXIT to twice the middle time of the save: about half
# land before the new file has its name (before the save or while it runs), half after.
span=$((middle_save * 2))

old=0 new=0 neither=0 missing=0 extra_after_kill=0 extra_after_restart=0
started_at=0 now=0 started=0 latest_old=0 earliest_new=-1
stamp started_at
for ((run = 1; run <= runs; run++)); do
    folder=$(fresh_folder)
    cp "$work/old.ini" "$folder/$settings"
    start_program "$folder"
    choose_9600_and_point_at_exit
    delay=$(((RANDOM * 32768 + RANDOM) % (span + 1)))
    printf -v delay_text '%d.%06d' $((delay / 1000000)) $((delay % 1000000))
    stamp started
    click
    pause "$delay_text"
    kill -KILL "$pid" 2>/dev/null || true
    stamp now
    delay=$((now - started))
    wait "$pid" 2>/dev/null || true
    clicked

    # The file as the kill left it, before a next start may write it again.
    after_kill=""
    if [ ! -f "$folder/$settings" ]; then
        ((++missing))
        echo "run $run (killed $delay us after the request to click): $settings is gone" >&2
    elif cmp -s "$folder/$settings" "$work/old.ini"; then
        ((++old))
        ((delay > latest_old)) && latest_old=$delay
        after_kill="$work/old.ini"
    elif cmp -s "$folder/$settings" "$work/new.ini"; then
        ((++new))
        ((earliest_new < 0 || delay < earliest_new)) && earliest_new=$delay
        after_kill="$work/new.ini"
    else
        ((++neither))
        echo "run $run (killed $delay us after the request to click) left other bytes:" >&2
        od -c "$folder/$settings" | head -n 20 >&2
    fi

    if (($(find "$folder" -mindepth 1 ! -name "$settings" | wc -l) > 0)); then
        ((++extra_after_kill))
        # The next start removes what the killed save left once its window is up (given 5 s
        # here); its EXIT then writes again what it loaded.
        start_program "$folder"
        for _ in $(seq 100); do
            (($(find "$folder" -mindepth 1 ! -name "$settings" | wc -l) == 0)) && break
            pause 0.05
        done
        locate_client
        xdotool mousemove --window "$window" 700 $((client_top + 320)) click 1
        await_end
        if (($(find "$folder" -mindepth 1 ! -name "$settings" | wc -l) > 0)); then
            ((++extra_after_restart))
            echo "run $run (killed $delay us after the request to click) left:" >&2
            ls -la "$folder" >&2
        fi
        if [ -n "$after_kill" ] && ! cmp -s "$folder/$settings" "$after_kill"; then
            ((++neither))
            echo "run $run: the next start and EXIT changed the file it had loaded" >&2
        fi
    fi
    rm -rf "$folder"
done
stamp now
elapsed=$(((now - started_at) / 1000))

# A moment no kill had reads as a dash.
moment() { if (($2 > 0)); then ms "$1"; else printf -- '-'; fi; }
path="unnamed temporary file (O_TMPFILE) where the file system has it"
((named)) && path="named temporary file (no /proc)"
cat <<EOF
Killed saves: $runs runs, $path
  uninterrupted EXIT, 5 times, from the request to click: file replaced after $(ms "$middle_save") ms (middle; latest $(ms "$latest_save")), process ended within $(ms "$latest_end") ms
  kills aimed at 0 to $(ms "$span") ms after that request; latest kill that left the old file $(moment "$latest_old" "$old") ms, earliest that left the new one $(moment "$earliest_new" "$new") ms
  old file (killed before the save ended):     $old
  new file (killed after the save ended):      $new
  extra file right after the kill:            $extra_after_kill
  extra file after the next start (must be 0): $extra_after_restart
  file neither old nor new (must be 0):       $neither
  settings file missing (must be 0):          $missing
  time: $(ms "$elapsed") s
EOF
((extra_after_restart == 0 && neither == 0 && missing == 0))
