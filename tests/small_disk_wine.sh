#!/bin/bash
# Runs the output-limit cases of run_test under Wine on a small disk of
# their own: a 48 MB tmpfs (this needs root), named to the test by its Z:
# path in EP_TMPFS. A program that writes without end must be ended long
# before it fills. The tmpfs is unmounted on every way out.
#
# usage: small_disk_wine.sh LOADER RUN_TEST_EXE
set -euo pipefail
loader=$1
program=$2
# shellcheck source=scripts/wine.sh
. "$(dirname "$0")/../scripts/wine.sh"

dir=$(mktemp -d /tmp/ep-small-disk-XXXXXX)
cleanup() {
    umount -l "$dir" 2>/dev/null || true
    rmdir "$dir"
}
trap cleanup EXIT
if ! mount -t tmpfs -o size=48m tmpfs "$dir"; then
    echo "cannot mount a tmpfs on $dir (this test needs root)" >&2
    exit 1
fi
export EP_TMPFS
EP_TMPFS=$(windows_path "$dir")
status=0
out=$("$loader" "$program" --gtest_filter='RunOnSmallDisk.*' 2>&1) || status=$?
echo "$out"
# The cases must have run, not been skipped or filtered away.
grep -q 'PASSED  \] 2 tests' <<<"$out" && ! grep -q SKIPPED <<<"$out" && [ "$status" -eq 0 ]
