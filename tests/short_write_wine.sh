#!/bin/bash
# Runs the short-write case of run_test under Wine with a real file-size
# limit: writes past EP_FILE_SIZE_LIMIT bytes fail (SIGXFSZ ignored), as on a
# full disk. The Wine server is started first, without the limit, so that
# only the test process is limited; the test links the module into its
# directory rather than copying it.
#
# usage: short_write_wine.sh LOADER RUN_TEST_EXE
set -euo pipefail
loader=$1
program=$2
limit_kb=8
# qemu-i386, which runs the 32-bit Wine loader on kernels without 32-bit
# support, does not keep an ignored SIGXFSZ ignored for its guest: the limit
# would kill the test instead of making the write fall short.
# shellcheck source=scripts/wine.sh
. "$(dirname "$0")/../scripts/wine.sh"
if [ "$loader" != "$(wine_loader win64)" ] && wine32_emulated; then
    echo "skipped: 32-bit Wine runs under qemu-i386 here, which does not ignore SIGXFSZ"
    exit 77
fi
# (A server already running is fine.)
wineserver -p 30 </dev/null >/dev/null 2>&1 || true
# Start the prefix's services now, unlimited and away from the test's output
# (they would hold it open after the test ends).
"$loader" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true
trap "" XFSZ
ulimit -f "$limit_kb"
export EP_FILE_SIZE_LIMIT=$((limit_kb * 1024))
out=$("$loader" "$program" --gtest_filter=Run.ShortWriteOfInputEndsTheRun 2>&1) || status=$?
echo "$out"
# The case must have run, not been skipped or filtered away.
grep -q 'PASSED  \] 1 test' <<<"$out" && ! grep -q SKIPPED <<<"$out" && [ "${status:-0}" -eq 0 ]
