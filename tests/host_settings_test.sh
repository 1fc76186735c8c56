#!/bin/bash
# plugin-host over settings files as users leave them, on Linux: a FIFO
# returns at once; an unreadable file (for a user other than root) is named
# with the reason; a file saved by Notepad as "Unicode" (UTF-16LE with a
# byte-order mark) is read; and programs that edit their file in place (sed
# -i) give the edited text. After each, no temporary file is left.
#
# usage: host_settings_test.sh BUILD_DIR
set -uo pipefail
build=$1

# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"

work_folder
chmod 755 "$work"
mkdir -m 755 "$work/bin"
mkdir -m 1777 "$work/runs"
private_host "$build" "$work/bin"
settings=$settings_file
export TMPDIR=$work/runs
printf 'select 1;\n' >"$work/query.sql"

# --- A FIFO: read as missing at once, never waited on --------------------------
mkfifo "$settings"
timeout 10 "$host" run "$work/query.sql" >"$work/out" 2>"$work/err"
status=$?
check "FIFO settings: run returns at once with exit 1 (got $status)" "$(status_is 1 $status)"
grep -q "No command line is set" "$work/err"
check "FIFO settings: says no command line is set" $?
cmp -s "$work/out" "$work/query.sql"
check "FIFO settings: the text comes back unchanged" $?
timeout 10 "$host" info >/dev/null 2>&1
check "FIFO settings: info returns at once" "$(status_is 0 $?)"
no_temporary_files "FIFO settings" "$work/runs"
rm -f "$settings"

# --- Unreadable for the user who runs it -----------------------------------------
printf '[Path]\nCommandLine=cat %%f\n' >"$settings"
chmod 000 "$settings"
setpriv --reuid=65534 --regid=65534 --clear-groups env TMPDIR="$work/runs" \
    "$host" run "$work/query.sql" >/dev/null 2>"$work/err"
check "unreadable settings: exit 1" "$(status_is 1 $?)"
grep -q "^$settings\$" "$work/err" && grep -q "The file could not be read:" "$work/err" &&
    grep -q "Permission denied" "$work/err"
check "unreadable settings: named with the reason" $?
no_temporary_files "unreadable settings" "$work/runs"
rm -f "$settings"
"$host" run "$work/query.sql" >/dev/null 2>"$work/err"
grep -q "The file does not exist." "$work/err"
check "missing settings: says the file does not exist" $?

# --- UTF-16LE with a byte-order mark, as Notepad saves "Unicode" ---------------
printf '[Path]\r\nCommandLine=sed s/select/UNICODE/ %%f\r\n' | iconv -f UTF-8 -t UTF-16LE |
    { printf '\xff\xfe'; cat; } >"$settings"
"$host" run "$work/query.sql" >"$work/out" 2>"$work/err"
check "UTF-16 settings: exit 0" "$(status_is 0 $?)"
[ "$(cat "$work/out")" = "UNICODE 1;" ]
check "UTF-16 settings: the command line was read" $?

# --- A program that edits its file in place ----------------------------------------
printf '[Path]\nCommandLine=sed -i s/select/SELECT/ %%f\n' >"$settings"
cp "$work/query.sql" "$work/edited.sql"
"$host" run --in-place "$work/edited.sql" 2>"$work/err"
check "sed -i: exit 0" "$(status_is 0 $?)"
[ "$(cat "$work/edited.sql")" = "SELECT 1;" ]
check "sed -i: the file holds the edited text" $?
# One that edits nothing and prints nothing keeps the text, and says so.
printf '[Path]\nCommandLine=sed -i s/nothing/here/ %%f\n' >"$settings"
"$host" run "$work/query.sql" >"$work/out" 2>"$work/err"
check "sed -i without a match: exit 1" "$(status_is 1 $?)"
grep -q "wrote nothing to its standard output and left the file as it was" "$work/err"
check "sed -i without a match: says why" $?
cmp -s "$work/out" "$work/query.sql"
check "sed -i without a match: the text comes back unchanged" $?
no_temporary_files "in-place programs" "$work/runs"

finish
