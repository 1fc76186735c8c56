#!/bin/bash
# Runs the full-disk case of dialog_win_test under Wine on a real full disk:
# a small tmpfs (this needs root), named to the test by its Z: path in
# EP_FULL_DISK_DIR. The test copies the module there, fills the file system
# and saves the settings through the dialog; the tmpfs is unmounted on every
# way out.
#
# usage: dialog_full_disk_wine.sh LOADER DIALOG_WIN_TEST_EXE
set -euo pipefail
loader=$1
program=$2
# shellcheck source=scripts/wine.sh
. "$(dirname "$0")/../scripts/wine.sh"

dir=$(mktemp -d /tmp/ep-full-disk-XXXXXX)
cleanup() {
    umount -l "$dir" 2>/dev/null || true
    rmdir "$dir"
}
trap cleanup EXIT
if ! mount -t tmpfs -o size=1m tmpfs "$dir"; then
    echo "cannot mount a tmpfs on $dir (this test needs root)" >&2
    exit 1
fi
export EP_FULL_DISK_DIR
EP_FULL_DISK_DIR=$(windows_path "$dir")
status=0
out=$("$loader" "$program" --gtest_filter='SettingsDialogFullDisk.*' 2>&1) || status=$?
echo "$out"
# The case must have run, not been filtered away.
grep -q 'PASSED  \] 1 test' <<<"$out" && [ "$status" -eq 0 ]
