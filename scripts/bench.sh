#!/bin/bash
# The benchmark: builds the native module and ep-bench, then times one OnCall
# against starting the same filter directly and through the shell, and counts
# the heap allocations of OnCall (see bench/README.md). Linux only.
#
# usage: scripts/bench.sh [OPTION...] [RUNS [BASELINE]]
#   OPTION     ep-bench's own: --option KEY=VALUE (a line of section [Run]
#              for this module), --crlf, --latin1 (see bench/README.md)
#   RUNS       timed runs per case (default 200, or EP_BENCH_RUNS when set)
#   BASELINE   another build of the module (an older one, say), timed side
#              by side with this one
# Exit status 0 unless a result was wrong or something failed; missed speed
# targets are printed, not reported in the status.
set -euo pipefail
cd "$(dirname "$0")/.."

options=()
while [ $# -gt 0 ] && [ "${1#--}" != "$1" ]; do
    if [ "$1" = --option ] && [ $# -gt 1 ]; then
        options+=("$1" "$2")
        shift 2
    else
        options+=("$1")
        shift
    fi
done
runs=${1:-${EP_BENCH_RUNS:-200}}
bash scripts/setup.sh --native
cmake --preset native >/dev/null
cmake --build --preset native -j 2 --target external_preprocessor ep-bench >/dev/null
exec build/native/ep-bench "${options[@]}" "$runs" ${2:+"$2"}
