#!/usr/bin/env bash
# Installs, builds and starts the tool. It reads and writes velmarixon.ini in the directory it
# is started from.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/setup.sh"
exec "$here/${BUILD_DIR:-build}/src/velmarixon"
