#!/usr/bin/env bash
# Installs, builds (warnings are errors) and runs every test: unit, GL, content, end-to-end
# tests under Xvfb and a Wayland compositor, the sound suite against PulseAudio and PipeWire,
# and the arm64 build under emulation.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test arm64
LUMENFALL_WERROR=ON scripts/build.sh
ctest --test-dir build --output-on-failure --timeout 900 "$@"
