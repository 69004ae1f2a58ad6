#!/usr/bin/env bash
# Builds what another platform builds, on Linux: without the pseudo-terminals (no device
# simulator, no serial suites) and without the benchmarks, which are POSIX programs, into
# build-portable/; then runs every suite built there. Keeps the portable part portable.
set -euo pipefail
cd "$(dirname "$0")/.."
export BUILD_DIR=build-portable
scripts/setup.sh -DVELMARIXON_HAVE_PTY=OFF
QT_QPA_PLATFORM=offscreen ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$(nproc)"
