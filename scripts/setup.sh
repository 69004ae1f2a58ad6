#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (quiet when everything is present),
# then configures and builds into build/, warnings as errors. Extra arguments go to CMake's
# configure step.
#   BUILD_DIR       the build folder (default build)
#   BUILD_TYPE      CMake's build type (default RelWithDebInfo)
#   BUILD_TARGETS   the targets to build, separated by blanks (default: everything)
set -euo pipefail
cd "$(dirname "$0")/.."

# Fonts so text has glyphs and widths even on a machine without a desktop.
scripts/need-packages.sh cmake g++ make pkg-config libgl-dev qt6-base-dev qt6-serialport-dev qt6-svg-dev fonts-dejavu-core

build_dir=${BUILD_DIR:-build}
build_type=${BUILD_TYPE:-RelWithDebInfo}
echo "setup.sh: configuring $build_dir/ ($build_type)"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE="$build_type" -DVELMARIXON_WERROR=ON "$@" >/dev/null

targets=()
for target in ${BUILD_TARGETS:-}; do
    targets+=(--target "$target")
done
if ((${#targets[@]})); then
    echo "setup.sh: building $((${#targets[@]} / 2)) targets (${BUILD_TARGETS}) with $(nproc) jobs"
else
    echo "setup.sh: building everything (programs, test suites, benchmarks) with $(nproc) jobs"
fi
cmake --build "$build_dir" --parallel "$(nproc)" "${targets[@]}"
