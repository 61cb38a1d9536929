#!/usr/bin/env bash
# The whole show under the sanitizers, two ways:
#  1. lumenfall-capture built with -DLUMENFALL_SANITIZE=ON (AddressSanitizer, UndefinedBehavior-
#     Sanitizer, LeakSanitizer) renders every scene (--fps 3 over the whole music, 320x180 PNGs):
#     any sanitizer report fails.
#  2. lumenfall-gl (the main build's) under valgrind memcheck on a private Xvfb, started through
#     the real setup dialog (xdotool presses Return) with a three-second music in an ./assets/
#     copy: any memcheck error or definite leak fails.
# Only allocations and reads that happen inside Mesa, GTK, GLib, fontconfig and the X libraries
# are suppressed (scripts/lsan-system-libs.supp, scripts/valgrind-system-libs.supp).
#
#   scripts/sanitize.sh [capture|valgrind]...   (default: both)
#
# Content comes from the main build: ${LUMENFALL_BUILD:-build}/demo.dat and assets/.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
steps=("$@")
if [ "${#steps[@]}" -eq 0 ]; then
    steps=(capture valgrind)
fi

main_build=$(cd "${LUMENFALL_BUILD:-build}" && pwd)
asan_build=$top/build-asan
jobs=${LUMENFALL_JOBS:-2}
if [ ! -f "$main_build/demo.dat" ] || [ ! -f "$main_build/assets/music.ogg" ]; then
    echo "sanitize: no built content in $main_build (run scripts/build.sh first)" >&2
    exit 2
fi

work=$(mktemp -d /tmp/lumenfall-sanitize-XXXXXX)
xvfb_pid=
cleanup() {
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
failed=()

run_capture() {
    echo "sanitize: lumenfall-capture under ASan + UBSan + LSan"
    cmake -S . -B "$asan_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMENFALL_SANITIZE=ON \
        -DLUMENFALL_BENCH=OFF >/dev/null
    cmake --build "$asan_build" -j"$jobs" --target lumenfall-capture >/dev/null
    mkdir -p "$work/capture/frames"
    cp "$main_build/demo.dat" "$work/capture/"
    # EGL unloads Mesa's driver at exit, before the leak check runs; the driver's globals go
    # with it, so whatever they pointed to would read as leaked, in a module with no name left
    # to suppress. Keeping the modules mapped (RTLD_NODELETE) lets the check see them as they are.
    # Mesa's drivers live in this architecture's multiarch folder (x86_64-linux-gnu, ...).
    cat >"$work/keep_mesa.c" <<'SHIM'
#include <dlfcn.h>
__attribute__((constructor)) static void keepMesaMapped(void) {
    dlopen("libEGL_mesa.so.0", RTLD_NOW | RTLD_NODELETE);
    dlopen(MESA_DRIVER, RTLD_NOW | RTLD_NODELETE);
}
SHIM
    cc -shared -fPIC -DMESA_DRIVER="\"/usr/lib/$(cc -print-multiarch)/dri/swrast_dri.so\"" \
        -o "$work/keep_mesa.so" "$work/keep_mesa.c" -ldl
    local asan_runtime
    asan_runtime=$("${CXX:-c++}" -print-file-name=libasan.so)
    local log=$work/capture/stderr.txt status=0
    (
        cd "$work/capture"
        ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        LSAN_OPTIONS=suppressions=$top/scripts/lsan-system-libs.supp:print_suppressions=0 \
        DISPLAY= WAYLAND_DISPLAY= LD_PRELOAD="$asan_runtime $work/keep_mesa.so" \
            "$asan_build/lumenfall-capture" --png frames --size 320x180 --fps 3 >/dev/null 2>"$log"
    ) || status=$?
    local frames
    frames=$(find "$work/capture/frames" -name '*.png' | wc -l)
    if [ "$status" -ne 0 ] || grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$log"; then
        echo "  FAILED (exit $status, $frames frames):"
        grep -E -A30 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$log" | head -60 | sed 's/^/  /'
        tail -5 "$log" | sed 's/^/  /'
        failed+=(capture)
    else
        echo "  clean: $frames frames, no sanitizer report"
    fi
}

# The first free X display number from :90 up.
free_display() {
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    echo "$n"
}

run_valgrind() {
    echo "sanitize: lumenfall-gl under valgrind memcheck"
    if [ ! -x "$main_build/lumenfall-gl" ]; then
        echo "  no $main_build/lumenfall-gl (run scripts/build.sh first)"
        failed+=(valgrind)
        return
    fi
    local dir=$work/valgrind
    mkdir -p "$dir/assets"
    cp "$main_build"/assets/* "$dir/assets/"
    # Three seconds of the music keep the run short; no demo.dat, so the folder is read.
    sox "$main_build/assets/music.ogg" "$dir/assets/music.ogg" trim 0 3
    local display
    display=$(free_display)
    Xvfb ":$display" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    sleep 2
    local log status=0
    (
        cd "$dir"
        export DISPLAY=":$display"
        # No accessibility bus: GTK would start a D-Bus helper process for it.
        export NO_AT_BRIDGE=1
        valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
            --show-leak-kinds=definite --errors-for-leak-kinds=definite \
            --suppressions="$top/scripts/valgrind-system-libs.supp" --gen-suppressions=all \
            --num-callers=40 --log-file="$dir/valgrind.%p.txt" "$main_build/lumenfall-gl" &
        local pid=$!
        echo "$pid" >"$dir/pid"
        # The dialog comes up slowly under valgrind. There is no window manager: give the
        # dialog the focus directly, then Return starts the show in the first mode.
        local pressed=0 dialog
        for _ in $(seq 1 300); do
            if ! kill -0 "$pid" 2>/dev/null; then break; fi
            dialog=$(xdotool search --onlyvisible --name '^lumenfall$' 2>/dev/null | head -1 || true)
            if [ "$pressed" -eq 0 ] && [ -n "$dialog" ]; then
                sleep 5
                xdotool windowfocus "$dialog" >/dev/null 2>&1 || true
                sleep 1
                xdotool key Return >/dev/null 2>&1 && pressed=1
            fi
            sleep 2
        done
        if kill -0 "$pid" 2>/dev/null; then
            echo "  the show did not end within 10 minutes" >&2
            kill "$pid"
        fi
        wait "$pid"
    ) || status=$?
    # The show's own log (a helper process forked by a library would write its own).
    log=$dir/valgrind.$(cat "$dir/pid").txt
    if [ "$status" -ne 0 ]; then
        echo "  FAILED (exit $status); memcheck said:"
        grep -E '^==[0-9]+== (Invalid|Conditional|Use of|Syscall|Mismatched|.*definitely lost|ERROR SUMMARY)' \
            "$log" | head -20 | sed 's/^/  /'
        mkdir -p "$asan_build" && cp "$log" "$asan_build/valgrind.txt" &&
            echo "  full log: $asan_build/valgrind.txt"
        failed+=(valgrind)
    else
        echo "  clean: $(grep 'ERROR SUMMARY' "$log" | sed 's/^==[0-9]*== //')"
        grep -E 'definitely lost|indirectly lost|suppressed:' "$log" | sed 's/^==[0-9]*== */  /'
    fi
    kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
}

for step in "${steps[@]}"; do
    case $step in
    capture) run_capture ;;
    valgrind) run_valgrind ;;
    *) echo "sanitize: unknown step $step" >&2; exit 2 ;;
    esac
done

if [ "${#failed[@]}" -ne 0 ]; then
    echo "sanitize: reports from ${failed[*]}"
    exit 1
fi
echo "sanitize: no reports"
