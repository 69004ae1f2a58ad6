#!/usr/bin/env bash
# Installs, builds and starts the tool.
#   ./scripts/start.sh          a demo: the tool on two simulated devices, in build/demo
#   ./scripts/start.sh --here   the tool alone, reading and writing velmarixon.ini in the current
#                               directory, for real devices
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
case "${1:-}" in
"" | --here) ;;
*)
    echo "usage: $0 [--here]   (without --here: a demo on simulated devices)" >&2
    exit 64
    ;;
esac
# Said before the build, which takes a while.
"$here/scripts/demo.sh" --check-display
(cd "$here" && scripts/setup.sh)
if [ "${1:-}" = --here ]; then
    build_dir="${BUILD_DIR:-build}"
    case "$build_dir" in /*) ;; *) build_dir="$here/$build_dir" ;; esac
    exec "$build_dir/src/velmarixon"
fi
exec "$here/scripts/demo.sh"
