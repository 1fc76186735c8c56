#!/bin/bash
# Builds the libFuzzer targets (the fuzz preset, clang with AddressSanitizer
# and UBSan) and runs each for a bounded time, default 20 seconds, over a
# scratch copy of its seed corpus in build/fuzz, so runs never grow the
# corpus checked in under fuzz/corpus. Any finding (a crash, a sanitizer
# report, a failed property, a timeout or running out of memory) stops that
# target, leaves the input under build/fuzz/artifacts and makes the script
# exit non-zero after the other targets have run.
#
#   scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
build=build/fuzz

cmake --workflow --preset fuzz >/dev/null

# Targets and the longest input each is given: the template and the host's
# texts fit in 1 KiB; a profile file gets room for several lines of thousands
# of bytes.
targets="expand:1024 profile:6000 cmdline:1024"

# The profile target's files go to a directory of this run's own, on tmpfs
# where there is one; a run cut short by a finding leaves its files there.
scratchFiles=$(mktemp -d -p /dev/shm ep_fuzz.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratchFiles"' EXIT

mkdir -p "$build/artifacts"
status=0
for entry in $targets; do
    target=${entry%%:*}
    maxLength=${entry#*:}
    scratch=$build/corpus/$target
    rm -rf "$scratch"
    mkdir -p "$scratch"
    cp fuzz/corpus/"$target"/* "$scratch"/
    rm -f "$build/artifacts/$target-"*
    log=$build/$target.log
    if TMPDIR=$scratchFiles "$build/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len="$maxLength" -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" "$scratch" >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        status=1
        tail -n 40 "$log"
    fi
    # The last status line and the final statistics, in one line.
    done_line=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    cov=$(echo "$done_line" | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' || true)
    echo "fuzz $target: $result, ${runs:-?} runs, ${rate:-?} exec/s, $cov (log $log)"
done
exit $status
