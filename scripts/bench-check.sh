#!/bin/sh
# Runs every benchmark program in BUILD/bench once and briefly, so that a
# benchmark that no longer builds or stops with an error fails the check:
# each benchmark runs for a millisecond (at least one iteration), and its
# figures mean nothing. `make bench` gives the real ones.
#
#   bench-check.sh BUILD
set -eu
build=$1
found=0
for b in "$build"/bench/*_bench; do
    [ -x "$b" ] || continue
    found=$((found + 1))
    out=$("$b" --benchmark_min_time=0.001 --benchmark_repetitions=1 2>&1) || {
        printf '%s\n' "$out"
        echo "bench-check: $b failed" >&2
        exit 1
    }
    # A benchmark that gives up with SkipWithError still ends the program
    # successfully; its line says so.
    if printf '%s\n' "$out" | grep -q 'ERROR OCCURRED'; then
        printf '%s\n' "$out"
        echo "bench-check: $b reported an error" >&2
        exit 1
    fi
    n=$("$b" --benchmark_list_tests | wc -l)
    echo "bench-check: $(basename "$b"): $n benchmarks ran"
done
if [ "$found" -eq 0 ]; then
    echo "bench-check: no benchmark programs in $build/bench" >&2
    exit 1
fi
