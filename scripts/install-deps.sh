#!/usr/bin/env bash
# Installs everything lumenfall needs to build, run and test on Debian 12.
# Safe to run again: apt skips what is already there.
set -euo pipefail

packages=(
    # build
    build-essential cmake pkg-config git
    # libraries the programs link
    libglfw3-dev libglew-dev libegl-dev libgles-dev libgl-dev libglm-dev
    libminizip-dev zlib1g-dev libstb-dev libvorbis-dev libogg-dev libsdl2-dev libgtk-3-dev
    # run time: Mesa's GL/GLES/EGL drivers
    libegl-mesa0 libgl1-mesa-dri libgles2 libglx-mesa0
    # tests and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdotool x11-apps xfonts-base python3 zip unzip
    glslang-tools ffmpeg sox imagemagick locales
    # content tools
    fonts-dejavu-core fonts-dejavu-extra
    # hardening
    clang libclang-rt-14-dev llvm valgrind ccache
    # sound: a real sound server for the tests, and the client library the programs link
    pulseaudio pulseaudio-utils libpulse-dev libasound2-dev
    # reading titles in rendered frames
    tesseract-ocr tesseract-ocr-eng
    # installing and packaging
    debootstrap lintian desktop-file-utils appstream man-db dpkg-dev fakeroot file
    # the web page: compiler and a headless browser to test it in
    emscripten chromium python3-websocket
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi

# The parsers are tested under a German locale (decimal comma) to prove they ignore LC_ALL.
ensure_german_locale() {
    if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
        "${sudo_cmd[@]}" sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
        "${sudo_cmd[@]}" locale-gen
    fi
}

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ "${#missing[@]}" -eq 0 ]; then
    echo "install-deps: everything is installed"
    ensure_german_locale
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
ensure_german_locale
