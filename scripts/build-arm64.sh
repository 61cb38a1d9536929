#!/usr/bin/env bash
# Cross builds lumenfall for 64-bit ARM (Debian arm64, Raspberry Pi OS 64-bit) into
# ./build-arm64 with Debian's cross toolchain, and runs its tests under qemu.
#
# usage: build-arm64.sh [--test [CTEST ARGUMENTS...]]
#   builds the programs, the capture program, the tests, the content (demo.dat) and the
#   desktop files; `cd build-arm64 && cpack -G DEB` then makes lumenfall_<version>_arm64.deb
#   --test   then runs the tests labelled arm64 under qemu-user-static; further arguments go
#            to ctest (for example -LE install leaves the package tests out)
#
# The content tools run natively, so demo.dat is the same bytes as a native build's: they
# come from $LUMENFALL_HOST_BUILD when it names a native build folder that has them, else
# they are built here into ./build-arm64-host. Programs that tests start themselves need
# binfmt_misc; as root the script switches qemu's entry on.
# LUMENFALL_WERROR=ON makes warnings errors, as in build.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
run_tests=0
ctest_args=()
if [ "${1:-}" = --test ]; then
    run_tests=1
    shift
    ctest_args=("$@")
elif [ $# -gt 0 ]; then
    echo "usage: $0 [--test [CTEST ARGUMENTS...]]" >&2
    exit 2
fi
jobs=${LUMENFALL_JOBS:-$(nproc)}

if ! scripts/install-deps.sh test arm64; then
    # As a test of the native build: skipped where nothing can be installed, failed under CI.
    if [ "$run_tests" -eq 1 ] && [ -z "${CI:-}" ]; then
        echo "SKIPPED: the cross toolchain and the arm64 libraries could not be installed"
        exit 77
    fi
    exit 1
fi

# arm64 programs started by other programs (a test starting the show) run through binfmt_misc.
binfmt_entry=/proc/sys/fs/binfmt_misc/qemu-aarch64
if ! grep -qx enabled "$binfmt_entry" 2>/dev/null && [ "$(id -u)" -eq 0 ]; then
    if ! mountpoint -q /proc/sys/fs/binfmt_misc; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || true
    fi
    update-binfmts --enable qemu-aarch64 || true
fi
if grep -qx enabled "$binfmt_entry" 2>/dev/null; then
    echo "build-arm64: arm64 programs run through binfmt_misc"
else
    echo "build-arm64: binfmt_misc has no qemu-aarch64 entry (needs root once); tests that" \
        "start arm64 programs themselves will fail"
fi

options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMENFALL_BENCH=OFF)
if [ -n "${LUMENFALL_WERROR:-}" ]; then
    options+=(-DLUMENFALL_WERROR="$LUMENFALL_WERROR")
fi
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=true
    options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# The build machine's tools: the content tools, and the digest program the arm64 numbers are
# held against.
host_tools=(lumenfall-imagegen lumenfall-synth lumenfall-pack lumenfall-icon numeric_digest)
host=${LUMENFALL_HOST_BUILD:-}
if [ -n "$host" ]; then
    host=$(cd "$host" && pwd)
    for tool in "${host_tools[@]}"; do
        if [ ! -x "$host/$tool" ]; then
            echo "build-arm64: no $tool in $host (build it there first)" >&2
            exit 1
        fi
    done
else
    host=$top/build-arm64-host
    echo "build-arm64: the build machine's tools, into $host"
    cmake -S . -B "$host" "${options[@]}" >/dev/null
    cmake --build "$host" -j"$jobs" --target "${host_tools[@]}"
fi

echo "build-arm64: the arm64 build, into $top/build-arm64"
cmake -S . -B build-arm64 "${options[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/aarch64-linux-gnu.cmake" -DLUMENFALL_HOST_TOOLS="$host" \
    >/dev/null
cmake --build build-arm64 -j"$jobs"

if [ "$run_tests" -eq 1 ]; then
    ctest --test-dir build-arm64 --output-on-failure -j"$jobs" -L arm64 "${ctest_args[@]}"
fi
