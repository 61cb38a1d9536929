#!/usr/bin/env bash
# Builds the web page (lumenfall-web) into ./build-web and serves build-web/site/ on
# http://127.0.0.1:8000/. With --build-only it only builds.
#
# The compiler is Debian's Emscripten. Its ports cannot be downloaded, so zlib (with
# contrib/minizip) is compiled for the web from Debian's own source package. "demo.dat"
# comes from the native build in ./build, built first when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

build_only=0
for arg in "$@"; do
    case "$arg" in
    --build-only) build_only=1 ;;
    -h | --help)
        echo "usage: scripts/web.sh [--build-only]"
        exit 0
        ;;
    *)
        echo "scripts/web.sh: unknown option $arg" >&2
        exit 2
        ;;
    esac
done

scripts/install-deps.sh

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi

# zlib's source package, unpacked once into build-web/deps/zlib.
fetch_zlib_source() {
    local deps=$top/build-web/deps
    if [ -f "$deps/zlib/contrib/minizip/unzip.c" ]; then
        return
    fi
    local list=/etc/apt/sources.list.d/lumenfall-src.sources
    if [ ! -f "$list" ]; then
        # Source entries for the main archive's mirror and suites (the first entry; the
        # security mirror carries no sources here).
        awk '/^$/ {exit} {print}' /etc/apt/sources.list.d/debian.sources |
            sed 's/^Types: deb$/Types: deb-src/' |
            "${sudo_cmd[@]}" tee "$list" >/dev/null
    fi
    mkdir -p "$deps"
    rm -rf "$deps/unpack"
    mkdir "$deps/unpack"
    if ! (cd "$deps/unpack" && apt-get source -qq zlib >/dev/null 2>&1); then
        "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=900 update -qq
        (cd "$deps/unpack" && apt-get source -qq zlib >/dev/null)
    fi
    local unpacked
    unpacked=$(find "$deps/unpack" -maxdepth 1 -mindepth 1 -type d -name 'zlib-*' | head -n 1)
    if [ -z "$unpacked" ] || [ ! -f "$unpacked/contrib/minizip/unzip.c" ]; then
        echo "scripts/web.sh: zlib's source package has no contrib/minizip" >&2
        exit 1
    fi
    rm -rf "$deps/zlib"
    mv "$unpacked" "$deps/zlib"
    rm -rf "$deps/unpack"
}

# demo.dat comes from the native build.
if [ ! -f build/demo.dat ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$(nproc)" --target content
fi

fetch_zlib_source

# Debian's emcc needs its JavaScript tools on node's search path at -O2.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S web -B build-web/cmake -DCMAKE_BUILD_TYPE=Release \
    -DLUMENFALL_ZLIB_SOURCE="$top/build-web/deps/zlib" \
    -DLUMENFALL_DEMO_DAT="$top/build/demo.dat" \
    -DLUMENFALL_SITE="$top/build-web/site" >/dev/null
cmake --build build-web/cmake -j"$(nproc)"

echo "web.sh: built $top/build-web/site"
if [ "$build_only" -eq 1 ]; then
    exit 0
fi
echo "web.sh: serving on http://127.0.0.1:8000/ (Ctrl-C stops)"
cd build-web/site
exec python3 -m http.server 8000 --bind 127.0.0.1
