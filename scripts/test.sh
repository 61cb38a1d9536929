#!/usr/bin/env bash
# Installs, builds (warnings are errors) and runs every test: unit, GL, content and
# end-to-end tests under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
LUMENFALL_WERROR=ON scripts/build.sh
ctest --test-dir build --output-on-failure --timeout 900 "$@"
