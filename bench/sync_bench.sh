#!/usr/bin/env bash
# The whole show's picture against its sound (tests/sound/show_sync.py) on PulseAudio and on
# PipeWire, quiet and with a process spinning on the CPU beside the show, then on a display
# that waits for its refresh (60 Hz, each swap returns at the next refresh). Each line of
# figures is one whole show (about four minutes with loading); the load average is printed
# before each, since the figures depend on what else the machine runs.
#
# usage: bench/sync_bench.sh [BUILD_DIR] [SECONDS]
#   BUILD_DIR  a build with the targets lumenfall-gles-frametrace, sound_monitor_record and
#              content (default: build)
#   SECONDS    a shorter music than the real one, for a quicker look
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
extra=()
if [ -n "${2:-}" ]; then
    extra=(--seconds "$2")
fi
run() {
    python3 "$here/tests/sound/show_sync.py" "$@" "${extra[@]}" \
        "$build/lumenfall-gles-frametrace" "$build/sound_monitor_record" "$build"
}
for server in "" --pipewire; do
    run $server
    run $server --busy
done
run --refresh 60
run --pipewire --refresh 60 --busy
