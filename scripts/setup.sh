#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (quiet when everything is present),
# then configures and builds into build/. Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."

# Fonts so text has glyphs and widths even on a machine without a desktop.
scripts/need-packages.sh cmake g++ make pkg-config libgl-dev qt6-base-dev qt6-serialport-dev fonts-dejavu-core

build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
