#!/bin/bash
# Runs cases of a test program under Wine on a small disk of their own: a
# tmpfs of SIZE (this needs root), named to the test by its Z: path in the
# environment variable VARIABLE. The cases fill it, or must be ended long
# before they do. The tmpfs is unmounted on every way out. The COUNT cases
# the gtest FILTER selects must all have run and passed: none skipped, none
# filtered away.
#
# usage: small_disk_wine.sh SIZE VARIABLE FILTER COUNT LOADER TEST_EXE
set -uo pipefail
size=$1
variable=$2
filter=$3
count=$4
loader=$5
program=$6
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=scripts/wine.sh
. "$(dirname "$0")/../scripts/wine.sh"

work_folder
small_disk "$work/disk" "$size"
check "a tmpfs of $size mounted on $work/disk (this needs root)" $?
if [ "$failures" -eq 0 ]; then
    export "$variable=$(windows_path "$work/disk")"
    "$loader" "$program" --gtest_filter="$filter" >"$work/out" 2>&1
    check "$filter: exit 0" "$(status_is 0 $?)"
    cat "$work/out"
    grep -qE "PASSED  \] $count tests?\." "$work/out"; check "$filter: $count passed" $?
    ! grep -q SKIPPED "$work/out"; check "$filter: none skipped" $?
fi
finish
