#!/bin/bash
# plugin-host from the command line: info, run over a file, standard input
# and in place, and its exit statuses. The module and the host are copied to
# a directory of the test's own, where the settings file goes beside them.
#
# usage: host_cli_test.sh BUILD_DIR (native|win32|win64) CHILD_PROGRAM [EMULATOR]
# CHILD_PROGRAM is a test program with child modes (see tests/child.cpp).
set -uo pipefail
build=$1
target=$2
child=$3
emulator=${4:-}

failures=0
passes=0
check() { # check NAME CONDITION-STATUS
    if [ "$2" -eq 0 ]; then
        passes=$((passes + 1))
    else
        failures=$((failures + 1))
        echo "FAIL: $1" >&2
    fi
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ "$target" = native ]; then
    module=external_preprocessor.so
    host=plugin-host
    to_native() { printf '%s' "$1"; }
else
    module=external_preprocessor.dll
    host=plugin-host.exe
    # Without a display Wine's message boxes return at once instead of
    # waiting for a click. A Wine session started without a display stays
    # without one, so this test has a session of its own: the running one is
    # ended first, and its own is ended when it is done.
    unset DISPLAY
    end_session() { wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; }
    end_session
    trap 'end_session; rm -rf "$work"' EXIT
    # shellcheck source=scripts/wine.sh
    . "$(dirname "$0")/../scripts/wine.sh"
    to_native() { windows_path "$1"; }
fi
cp "$build/$module" "$build/$host" "$work/"
cp "$child" "$work/"
child_path=$(to_native "$work/$(basename "$child")")
host_cmd() { $emulator "$work/$host" "$@"; }
settings() { printf '[Path]\r\nWorkingDirectory=\r\nCommandLine=%s\r\n' "$1" >"$work/external_preprocessor.ini"; }

# info: title, kind and the version record.
out=$(host_cmd info | tr -d '\r')
check "info exits 0" $?
grep -qx 'Title: External Preprocessor' <<<"$out"; check "info title" $?
grep -qx 'Kind: 16' <<<"$out"; check "info kind" $?
grep -qx 'FileVersion: 1, 0, 0, 0' <<<"$out"; check "info file version" $?
grep -qx 'FileDescription: Run external preprocessor plug-in' <<<"$out"; check "info description" $?
grep -qx 'Language: 040904b0' <<<"$out"; check "info language" $?
echo "$out"

# Loading errors exit 2 with a message.
host_cmd info --module "$(to_native "$work/missing-module")" 2>"$work/err" >/dev/null
check "missing module exits 2" $(($? == 2 ? 0 : 1))
grep -q "cannot load module" "$work/err"; check "missing module says so" $?
if [ "$target" = native ]; then
    # A library that loads but is no plug-in.
    host_cmd info --module "$(ldd "$work/$host" | awk '/libc\.so/ {print $3}')" 2>"$work/err" >/dev/null
    check "module without entries exits 2" $(($? == 2 ? 0 : 1))
    grep -q "has no entry point OnInstall" "$work/err"; check "module without entries says so" $?
fi
host_cmd bogus 2>"$work/err" >/dev/null
check "unknown command exits 2" $(($? == 2 ? 0 : 1))

# run: a copying filter over a file, standard input and in place.
settings "\"$child_path\" --child cat %f"
printf 'select 1;\r\n-- \xe9\n' >"$work/in.sql"
host_cmd run "$(to_native "$work/in.sql")" >"$work/out.sql"
check "run over a file exits 0" $?
cmp -s "$work/in.sql" "$work/out.sql"; check "run over a file gives the text back" $?
host_cmd run <"$work/in.sql" >"$work/out2.sql"
check "run over standard input exits 0" $?
cmp -s "$work/in.sql" "$work/out2.sql"; check "run over standard input gives the text back" $?

settings "\"$child_path\" --child echo-args %u %p %d %o %N"
printf 'x' >"$work/edit.sql"
host_cmd run -u scott -p tiger -d orcl -o out -N name --in-place "$(to_native "$work/edit.sql")" >"$work/stdout"
check "in place exits 0" $?
[ "$(cat "$work/edit.sql")" = "$(printf '5:scott\n5:tiger\n4:orcl\n3:out\n4:name')" ]
check "in place replaces the file with the output" $?
[ ! -s "$work/stdout" ]; check "in place prints nothing" $?
siblings=("$work"/*plugin-host.tmp*); [ ! -e "${siblings[0]}" ]; check "in place leaves no sibling" $?

# A program that cannot start: exit 1, the box on standard error, the file kept.
settings "\"$child_path.missing\" %f"
printf 'keep me' >"$work/keep.sql"
host_cmd run --in-place "$(to_native "$work/keep.sql")" 2>"$work/err"
check "failed run exits 1" $(($? == 1 ? 0 : 1))
[ "$(cat "$work/keep.sql")" = "keep me" ]; check "failed run keeps the file" $?
if [ "$target" = native ]; then
    grep -q '^Execute Error!: ' "$work/err"; check "failed run shows the box" $?
fi

# More than the plug-in takes is refused before anything runs.
head -c 102401 /dev/zero | tr '\0' 'a' >"$work/big.sql"
host_cmd run "$(to_native "$work/big.sql")" >/dev/null 2>"$work/err"
check "overlong text exits 2" $(($? == 2 ? 0 : 1))
grep -q "at most 102400" "$work/err"; check "overlong text says so" $?
head -c 102398 /dev/zero | tr "\0" a >"$work/full.sql"
settings "\"$child_path\" --child cat %f"
host_cmd run "$(to_native "$work/full.sql")" >"$work/full.out"
check "full-sized text exits 0" $?
cmp -s "$work/full.sql" "$work/full.out"; check "full-sized text comes back whole" $?

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
