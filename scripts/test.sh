#!/usr/bin/env bash
# Installs, builds and runs every test suite. SANITIZE=1 builds into build-sanitize/ with
# AddressSanitizer and UndefinedBehaviorSanitizer instead.
set -euo pipefail
cd "$(dirname "$0")/.."
# One suite pastes from another program on a virtual X display; the device-server suites run a
# real ser2net on 127.0.0.1; another sends velmarixon-send's records through a real MQTT broker
# on 127.0.0.1.
scripts/need-packages.sh xvfb xauth ser2net mosquitto mosquitto-clients
if [ "${SANITIZE:-0}" = 1 ]; then
    export BUILD_DIR=build-sanitize
    scripts/setup.sh -DVELMARIXON_SANITIZE=ON
else
    scripts/setup.sh
fi
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure --parallel "$(nproc)"
