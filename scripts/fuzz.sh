#!/bin/sh
# Runs every fuzz target built in the given build folder for the given number
# of seconds, one after the other, starting from its seed corpus in
# fuzz/corpus/<target>/ and from what earlier runs found (kept in the build
# folder). An input that crashes a target is written into its seed corpus,
# where it belongs from then on: commit it with the mend. Prints the runs of
# every target; fails when any target crashed.
set -eu
build=$1
seconds=$2
status=0
for program in "$build"/fuzz/*_fuzz; do
    name=$(basename "$program")
    seeds=fuzz/corpus/$name
    found=$build/fuzz-found/$name
    log=$build/fuzz-$name.log
    mkdir -p "$found"
    if "$program" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
        -artifact_prefix="$seeds/" "$found" "$seeds" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz: $name: $runs runs in $seconds s, no crash"
    else
        echo "fuzz: $name: crashed; the input is kept in $seeds/:"
        tail -n 40 "$log"
        for input in "$seeds"/crash-* "$seeds"/timeout-* "$seeds"/oom-* "$seeds"/leak-*; do
            [ -f "$input" ] && { echo "$input (base64):"; base64 "$input"; }
        done
        status=1
    fi
done
exit $status
