#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything into ./build.
# LUMENFALL_WERROR=ON makes warnings errors; unset, the folder keeps its earlier choice.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ -n "${LUMENFALL_WERROR:-}" ]; then
    options+=(-DLUMENFALL_WERROR="$LUMENFALL_WERROR")
fi
cmake -S . -B build "${options[@]}" >/dev/null
cmake --build build -j"$(nproc)"
