#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into ./build-fuzz, makes their seed corpora from
# the built assets and runs each target for SECONDS (default 30), one after the other.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: loader sync image ife music (default: all)
#
# Seeds come from ${LUMENFALL_ASSETS:-build/assets} (the folder the main build fills); without
# it they are made from the shader sources and small generated files. What the fuzzers find
# goes to build-fuzz/findings/, new inputs to build-fuzz/corpus/, logs to build-fuzz/logs/.
# A runaway allocation (over 2 GB), a hang (10 s for one input), a crash or a sanitizer
# report fails the run; the exit status is non-zero when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

seconds=${1:-30}
shift || true
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
    targets=(loader sync image ife music)
fi

# Without clang there is no libFuzzer: say so and skip (exit 77, as CTest expects), except
# under CI, which must run the fuzzers.
if ! command -v clang >/dev/null || ! command -v clang++ >/dev/null; then
    echo "SKIPPED: clang is not installed (libFuzzer needs it)"
    if [ -n "${CI:-}" ]; then
        echo "CI is set: the fuzz run is required"
        exit 1
    fi
    exit 77
fi

build=$top/build-fuzz
assets=${LUMENFALL_ASSETS:-$top/build/assets}
jobs=${LUMENFALL_FUZZ_JOBS:-2}

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMENFALL_FUZZ=ON -DLUMENFALL_TESTS=OFF -DLUMENFALL_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]/#/fuzz_}" >/dev/null

rm -rf "$build/seeds"
python3 fuzz/make_corpus.py "$assets" "$build/seeds"
mkdir -p "$build/findings" "$build/logs"

# Largest input per target: archives and sync files hold several files, images and
# animations are small text or pixels.
max_len() {
    case $1 in
    ife) echo 16384 ;;
    *) echo 65536 ;;
    esac
}

failed=()
for target in "${targets[@]}"; do
    mkdir -p "$build/corpus/$target"
    log=$build/logs/$target.log
    echo "fuzz_$target: ${seconds}s"
    mkdir -p "$build/scratch"
    if LUMENFALL_FUZZ_ASSETS=$assets LUMENFALL_FUZZ_SCRATCH=$build/scratch nice -n 10 "$build/fuzz_$target" \
        -max_total_time="$seconds" -max_len="$(max_len "$target")" -rss_limit_mb=2048 \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
        "$build/corpus/$target" "$build/seeds/$target" >"$log" 2>&1; then
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" |
            sed "s/^/  /"
    else
        echo "  FAILED, see $log"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -5 | sed "s/^/  /"
        failed+=("$target")
    fi
    rm -rf "$build/scratch"
done

if [ "${#failed[@]}" -ne 0 ]; then
    echo "fuzz: findings in ${failed[*]} (inputs under $build/findings)"
    exit 1
fi
echo "fuzz: no findings"
