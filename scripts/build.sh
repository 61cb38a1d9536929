#!/usr/bin/env bash
# Installs what is missing, then configures and builds into ./build.
#
# usage: build.sh [play]
#   play   only what playing needs: the programs, the capture program and the content
#          (no tests, no benchmarks)
# LUMENFALL_WERROR=ON makes warnings errors; unset, the folder keeps its earlier choice.
set -euo pipefail
cd "$(dirname "$0")/.."
what=test
if [ "${1:-}" = play ]; then
    what=play
elif [ $# -gt 0 ]; then
    echo "usage: $0 [play]" >&2
    exit 2
fi
scripts/install-deps.sh "$what"
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "$what" = play ]; then
    options+=(-DLUMENFALL_TESTS=OFF -DLUMENFALL_BENCH=OFF)
else
    options+=(-DLUMENFALL_TESTS=ON -DLUMENFALL_BENCH=ON)
fi
if [ -n "${LUMENFALL_WERROR:-}" ]; then
    options+=(-DLUMENFALL_WERROR="$LUMENFALL_WERROR")
fi
# Where ccache is installed (the test set-up brings it), other build folders of this tree share
# its compiled objects.
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
    options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build "${options[@]}" >/dev/null
cmake --build build -j"$(nproc)"
