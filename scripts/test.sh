#!/usr/bin/env bash
# Builds everything and runs the whole test suite. Tests start their own
# private D-Bus bus, sensor stand-in and servers on 127.0.0.1; they need no
# display and never touch your own settings.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
jobs=$(nproc 2>/dev/null || echo 2)
ctest --test-dir build --output-on-failure -j "$jobs"
