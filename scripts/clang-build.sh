#!/usr/bin/env bash
# Builds everything a second time with clang, as Release, into build-clang/, warnings as errors,
# so code that only one compiler or one optimisation level accepts is caught; then runs the
# suites of pure logic there.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/need-packages.sh clang
export CXX=clang++
BUILD_DIR=build-clang BUILD_TYPE=Release scripts/setup.sh
QT_QPA_PLATFORM=offscreen ctest --test-dir build-clang --output-on-failure \
    --parallel "$(nproc)" -L '^pure$' --no-tests=error
