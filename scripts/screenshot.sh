#!/usr/bin/env bash
# Makes docs/screenshot.png: the demo's window (see demo.sh) after it asked over Com1 and over
# UDP, on a virtual display. Installs Xvfb, ImageMagick and xdotool when missing and builds like
# start.sh; the demo runs in a fresh folder of its own, so the demo's saved settings stay as they
# are. Run it again after a change to the window to refresh the picture.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-build}"
case "$build_dir" in /*) ;; *) build_dir="$repo/$build_dir" ;; esac

if [ -z "${VELMARIXON_ON_XVFB:-}" ]; then
    "$repo/scripts/need-packages.sh" xvfb imagemagick xdotool
    "$repo/scripts/setup.sh"
    VELMARIXON_ON_XVFB=1 exec xvfb-run -a -s '-screen 0 1280x800x24' "$0" "$@"
fi

demo_dir="$build_dir/screenshot-demo"
rm -rf "$demo_dir"
mkdir -p "$demo_dir"
VELMARIXON_DEMO_DIR="$demo_dir" "$repo/scripts/demo.sh" >"$build_dir/screenshot-demo.log" 2>&1 &
demo_pid=$!
trap 'kill -TERM "$demo_pid" 2>/dev/null || true; wait "$demo_pid" 2>/dev/null || true' EXIT

window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Velmarixon$' | head -n 1)
[ -n "$window" ] || { cat "$build_dir/screenshot-demo.log" >&2; exit 1; }
xdotool windowfocus --sync "$window"
# The focus starts on Com1: Enter sends over Com1, the arrow keys then choose Udp, Enter sends again.
xdotool key Return
sleep 1
xdotool key Down Down Down Down
sleep 0.3
xdotool key Return
sleep 1
mkdir -p "$repo/docs"
import -window "$window" "$repo/docs/screenshot.png"
echo "Wrote $repo/docs/screenshot.png"
