#!/usr/bin/env bash
# The recording's cost per scene: for an excerpt of each, the CPU time per frame of
# lumenfall-capture and its encoder together, with the speed-ups and with --plain, in the
# same run; a one-frame run of the same start is taken off both as the start-up cost. CPU
# time holds on a shared machine where wall time does not; on a quiet 2-core machine the
# whole show takes about (sum of frames x CPU per frame) / 2 once every core is kept busy.
# peak_MB is the largest resident set of the recording with the speed-ups (the program, or its
# encoder if that is larger), at the given picture size.
#
# usage: bench/capture_bench.sh [BUILD_DIR] [SECONDS_PER_EXCERPT] [WxH]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
length=${2:-2}
size=${3:-1280x720}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$build"

cpu() { # CPU seconds (user + system) of one capture run; its peak resident set in $work/peak
    /usr/bin/time -o "$work/time" -f "%U %S %M" ./lumenfall-capture "$@" --size "$size" \
        --output "$work/v.mp4" 2>/dev/null
    awk '{ print $3 }' "$work/time" >"$work/peak"
    awk '{ print $1 + $2 }' "$work/time"
}

# One excerpt per scene; the first scene twice, before and during the credits.
printf '%-8s %12s %12s %7s %8s\n' start plain_ms fast_ms ratio peak_MB
for start in 30 80 125 160 185 200 213; do
    end=$(awk -v s="$start" -v l="$length" 'BEGIN { print s + l }')
    one=$(awk -v s="$start" 'BEGIN { print s + 0.034 }')
    frames=$(awk -v l="$length" 'BEGIN { print int(l * 30 + 0.999) }')
    plain=$(cpu --start "$start" --end "$end" --plain)
    fast=$(cpu --start "$start" --end "$end")
    peak=$(cat "$work/peak")
    startup=$(cpu --start "$start" --end "$one")
    awk -v s="$start" -v p="$plain" -v f="$fast" -v u="$startup" -v n="$frames" -v k="$peak" '
        BEGIN { pm = (p - u) * 1000 / n; fm = (f - u) * 1000 / n
                printf "%-8s %12.1f %12.1f %7.2f %8.0f\n", s, pm, fm, fm / pm, k / 1024 }'
done
