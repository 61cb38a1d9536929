#!/usr/bin/env bash
# Installs what lumenfall needs on Debian 12. Safe to run again: apt skips what is there.
#
# usage: install-deps.sh [play|test] [arm64]
#   play   what playing needs: the compiler, the libraries the programs link, Mesa's drivers,
#          ffmpeg for recording without a display, and the fonts the content tools draw with
#   test   all of that and what the tests need (the default)
#   arm64  also Debian's cross toolchain, qemu and the arm64 libraries, for the arm64 build
set -euo pipefail

play_packages=(
    # build
    build-essential cmake pkg-config
    # libraries the programs link
    libglfw3-dev libglew-dev libegl-dev libgles-dev libgl-dev libglm-dev
    libminizip-dev zlib1g-dev libstb-dev libvorbis-dev libogg-dev libsdl2-dev libgtk-3-dev
    libpulse-dev libasound2-dev
    # run time: Mesa's GL/GLES/EGL drivers, and the encoder for recording
    libegl-mesa0 libgl1-mesa-dri libgles2 libglx-mesa0 ffmpeg
    # content tools: the fonts the images are drawn with, sox for the music
    fonts-dejavu-core fonts-dejavu-extra sox
)

test_packages=(
    git
    # tests and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdotool x11-apps xfonts-base python3 zip unzip
    glslang-tools imagemagick locales
    # hardening
    clang libclang-rt-14-dev llvm valgrind ccache
    # sound: real sound servers for the tests (PulseAudio, and PipeWire with its session
    # manager and its PulseAudio service on a private session bus)
    pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber dbus-daemon
    # a Wayland desktop for the tests: GNOME's compositor with XWayland, typed into through
    # its remote-desktop service (from Python, through GObject)
    mutter xwayland python3-gi
    # reading titles in rendered frames
    tesseract-ocr tesseract-ocr-eng
    # installing and packaging
    debootstrap lintian desktop-file-utils appstream man-db dpkg-dev fakeroot file
    # the web page: compiler and a headless browser to test it in
    emscripten chromium python3-websocket
)

# The arm64 libraries are the play libraries of the arm64 side (GLM is headers for every
# architecture at once, so the build machine's serves both).
arm64_host_packages=(crossbuild-essential-arm64 qemu-user-static binfmt-support)
arm64_libraries=(
    libglfw3-dev libglew-dev libegl-dev libgles-dev libgl-dev libstb-dev
    libminizip-dev zlib1g-dev libvorbis-dev libogg-dev libsdl2-dev libgtk-3-dev
    libpulse-dev libasound2-dev libgtest-dev libgmock-dev
    libegl-mesa0 libgl1-mesa-dri libgles2 libglx-mesa0
)

what=test
arm64=0
for arg in "$@"; do
    case "$arg" in
        play|test) what="$arg" ;;
        arm64) arm64=1 ;;
        *) echo "usage: $0 [play|test] [arm64]" >&2; exit 2 ;;
    esac
done

packages=("${play_packages[@]}")
if [ "$what" = test ]; then
    packages+=("${test_packages[@]}")
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi

# On an arm64 machine its own libraries are the arm64 ones: nothing to cross to.
if [ "$arm64" = 1 ] && [ "$(dpkg --print-architecture)" = arm64 ]; then
    arm64=0
fi
if [ "$arm64" = 1 ]; then
    packages+=("${arm64_host_packages[@]}")
    for p in "${arm64_libraries[@]}"; do
        packages+=("$p:arm64")
    done
    if ! dpkg --print-foreign-architectures | grep -qx arm64; then
        "${sudo_cmd[@]}" dpkg --add-architecture arm64
    fi
fi

# The parsers are tested under a German locale (decimal comma) to prove they ignore LC_ALL.
ensure_german_locale() {
    [ "$what" = test ] || return 0
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
"${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=900 update -qq
"${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
ensure_german_locale
