#!/usr/bin/env bash
# Installs, builds and starts the tool. Only the programs it starts are built (the test suites
# and benchmarks build with ./scripts/test.sh and ./scripts/bench.sh).
#   ./scripts/start.sh          a demo: the tool on two simulated devices, in build/demo
#   ./scripts/start.sh --here   the tool alone, reading and writing velmarixon.ini in the current
#                               directory, for real devices
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
case "${1:-}" in
"")
    programs="velmarixon velmarixon-send velmarixon-device-sim velmarixon-trend"
    what="the tool, velmarixon-send, the device simulator and velmarixon-trend"
    ;;
--here)
    programs="velmarixon"
    what="the tool"
    ;;
*)
    echo "usage: $0 [--here]   (without --here: a demo on simulated devices)" >&2
    exit 64
    ;;
esac
# Said before the build, which takes a while.
"$here/scripts/demo.sh" --check-display
echo "start.sh: checking the Debian packages the build needs (installing any that are missing),"
echo "start.sh: then building $what; a first build takes a few minutes, a later one seconds"
(cd "$here" && BUILD_TARGETS="$programs" scripts/setup.sh)
build_dir="${BUILD_DIR:-build}"
case "$build_dir" in /*) ;; *) build_dir="$here/$build_dir" ;; esac
if [ "${1:-}" = --here ]; then
    echo "start.sh: starting the tool in $(pwd)"
    exec "$build_dir/src/velmarixon"
fi
echo "start.sh: starting the demo"
exec "$here/scripts/demo.sh"
