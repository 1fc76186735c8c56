#!/bin/bash
# plugin-host from the command line, on every target: info and the settings
# it shows, the command line's options, where the module is found, the
# password from a file or the environment, run over a file, standard input
# and in place, the text on standard output after every run, the module's
# boxes as lines on standard error, the bounds of the input, and the exit
# statuses. The module and the host are copied to a directory of the test's
# own, where the settings file goes beside them. Natively also a caller that
# ignores SIGCHLD. Under Wine also Ctrl-C, delivered as Wine delivers it (a
# SIGINT to the Windows process), and the boxes with a display (when the
# test is given one) and without.
#
# usage: host_cli_test.sh BUILD_DIR (native|win32|win64) CHILD_PROGRAM [EMULATOR]
# CHILD_PROGRAM is a test program with child modes (see tests/child.cpp).
set -uo pipefail
build=$1
target=$2
child=$3
emulator=${4:-}

# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"

work_folder
if [ "$target" = native ]; then
    to_native() { printf '%s' "$1"; }
else
    module_name=external_preprocessor.dll
    host_name=plugin-host.exe
    # Without a display Wine's message boxes return at once instead of
    # waiting for a click. A Wine session started without a display stays
    # without one, so this test has a session of its own, in a prefix of its
    # own (the given one's files linked, its registry copied), which leaves
    # alone the session of tests that run beside it. The display given, if
    # any, serves the boxes' case with a display at the end.
    display=${DISPLAY:-}
    unset DISPLAY
    # shellcheck source=scripts/wine.sh
    . "$(dirname "$0")/../scripts/wine.sh"
    private_prefix "$work/prefix"
    check "a Wine prefix of its own at $work/prefix" $?
    end_session() { wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; }
    on_exit end_session
    to_native() { windows_path "$1"; }
fi
private_host "$build" "$work" "$child"
child_path=$(to_native "$child_path")
host_cmd() { $emulator "$host" "$@"; }
settings_eol='\r\n'
settings() { write_settings "$1" "${2:-}"; }
# Runs a command without a controlling terminal, so that no message box can
# wait for Enter on the terminal the tests were started from.
detached() { setsid -w "$@"; }

# --- info: title, kind and the version record --------------------------------
out=$(host_cmd info | tr -d '\r')
check "info exits 0" $?
grep -qx 'Title: External Preprocessor' <<<"$out"; check "info title" $?
grep -qx 'Kind: 16' <<<"$out"; check "info kind" $?
grep -qx 'FileVersion: 1, 0, 0, 0' <<<"$out"; check "info file version" $?
grep -qx 'FileDescription: Run external preprocessor plug-in' <<<"$out"; check "info description" $?
grep -qx 'Language: 040904b0' <<<"$out"; check "info language" $?
echo "$out"
file_version=$(sed -n 's/^FileVersion: //p' <<<"$out" | tr -d ' ' | tr , .)

# The settings file in use and its values, as the module reads them (one
# pair of quotes around the whole value taken off), and the run options the
# file has.
ini=$work/external_preprocessor.ini
printf '[Path]\r\nWorkingDirectory=%s\r\nCommandLine=""%s" -x "%%f""\r\n[Run]\r\nTimeLimit=30\r\nIgnoreExitCode=0\r\n' \
    "$(to_native "$work")" "$child_path" >"$ini"
out=$(host_cmd info | tr -d '\r')
check "info with settings exits 0" $?
grep -qxF "Settings file: $(to_native "$ini")" <<<"$out"; check "info names the settings file" $?
grep -qxF "CommandLine: \"$child_path\" -x \"%f\"" <<<"$out"; check "info shows CommandLine" $?
grep -qxF "WorkingDirectory: $(to_native "$work")" <<<"$out"; check "info shows WorkingDirectory" $?
grep -qx 'TimeLimit: 30' <<<"$out" && grep -qx 'IgnoreExitCode: 0' <<<"$out"
check "info shows the run options the file has" $?
! grep -q '^HideConsole' <<<"$out"; check "info leaves out the run options the file lacks" $?
[ "$(sed -n 10p <<<"$out")" = "Settings file: $(to_native "$ini")" ]
check "info: the settings after the record" $?
rm "$ini"
out=$(host_cmd info | tr -d '\r')
grep -qxF "Settings file: $(to_native "$ini") (not there: the settings are empty)" <<<"$out"
check "info says when there is no settings file" $?
grep -qx 'CommandLine: ' <<<"$out"; check "info without settings: CommandLine empty" $?

# Loading errors exit 2 with a message.
host_cmd info --module "$(to_native "$work/missing-module")" 2>"$work/err" >/dev/null
check "missing module exits 2" "$(status_is 2 $?)"
grep -q "cannot load module" "$work/err"; check "missing module says so" $?
if [ "$target" = native ]; then
    # A library that loads but is no plug-in.
    host_cmd info --module "$(ldd "$host" | awk '/libc\.so/ {print $3}')" 2>"$work/err" >/dev/null
    check "module without entries exits 2" "$(status_is 2 $?)"
    grep -q "has no entry point OnInstall" "$work/err"; check "module without entries says so" $?
fi

# --- The command line ----------------------------------------------------------
for help in --help -h "run --help" "info -h"; do
    # shellcheck disable=SC2086 # the words are meant to split
    host_cmd $help >"$work/out" 2>"$work/err"
    check "$help exits 0" $?
    grep -q '^usage: plugin-host info' "$work/out"; check "$help shows the usage on standard output" $?
    grep -q -- '--in-place' "$work/out"; check "$help lists the options" $?
    [ ! -s "$work/err" ]; check "$help writes nothing to standard error" $?
done
out=$(host_cmd --version | tr -d '\r')
check "--version exits 0" $?
[ "$out" = "plugin-host $file_version" ]; check "--version gives the record's version ($out)" $?

usage_error() { # usage_error NAME EXPECTED-MESSAGE ARGS...
    local name=$1 message=$2
    shift 2
    host_cmd "$@" >"$work/out" 2>"$work/err"
    check "$name exits 2" "$(status_is 2 $?)"
    grep -qF -- "$message" "$work/err"; check "$name says '$message'" $?
    grep -q '^usage: ' "$work/err"; check "$name shows the usage" $?
    [ ! -s "$work/out" ]; check "$name writes nothing to standard output" $?
}
usage_error "no command" "no command given"
usage_error "unknown command" "unknown command 'bogus'" bogus
usage_error "-u without its value" "option -u needs a value" run -u
usage_error "--module without its value" "option --module needs a value" run --module
usage_error "an unknown option" "unknown option '--bogus'" run --bogus
usage_error "an unknown short option" "unknown option '-x'" run -x
usage_error "--in-place with a value" "option --in-place takes no value" run --in-place=yes
usage_error "--in-place without FILE" "--in-place needs at least one FILE" run --in-place
usage_error "two FILEs without --in-place" "several need --in-place" run a b
usage_error "a text option for info" "'info' takes only --module" info -u scott
usage_error "an overlong text" "the text for -d is longer than 63 characters" run \
    -d "$(printf '%064d' 0)"

settings "\"$child_path\" --child cat %f"
printf 'select 1;\r\n-- \xe9\n' >"$work/in.sql"
for form in "--module=" "--module "; do
    # shellcheck disable=SC2086 # "--module " is meant to split
    host_cmd run $form"$(to_native "$work/$module_name")" "$(to_native "$work/in.sql")" >"$work/out"
    check "run $form PATH exits 0" $?
    cmp -s "$work/in.sql" "$work/out"; check "run $form PATH runs that module" $?
done
printf 'dash\n' >"$work/-dash.sql"
(cd "$work" && host_cmd run -- -dash.sql >"$work/out")
check "-- before a FILE beginning with - exits 0" $?
[ "$(cat "$work/out")" = dash ]; check "-- before a FILE beginning with - reads it" $?
host_cmd run "$(to_native "$work/in.sql")" --module "$(to_native "$work/$module_name")" >"$work/out"
check "options after the FILE are taken" $?
host_cmd run --module "$(to_native "$work")" "$(to_native "$work/in.sql")" >"$work/out"
check "--module FOLDER exits 0" $?
cmp -s "$work/in.sql" "$work/out"; check "--module FOLDER runs the module in it" $?
usage_error "-p and --password-file" "-p and --password-file both give the password" \
    run -p x --password-file y
usage_error "--password-file for info" "'info' takes only --module" info --password-file y
usage_error "--show-boxes for settings" "'settings' takes only --module" settings --show-boxes

# --- Where the module is found (Linux) -------------------------------------------
# Beside plugin-host's real file, then in ../lib/external-preprocessor/ from
# there, as `cmake --install` lays them out; a symbolic link to plugin-host
# leads to its real folder; a copy with neither says where it looked.
if [ "$target" = native ]; then
    tree=$work/tree
    mkdir -p "$tree/bin" "$tree/lib/external-preprocessor" "$work/elsewhere"
    cp "$host" "$tree/bin/"
    cp "$work/$module_name" "$tree/lib/external-preprocessor/"
    printf '[Path]\nCommandLine="%s" --child cat %%f\n' "$child_path" \
        >"$tree/lib/external-preprocessor/external_preprocessor.ini"
    "$tree/bin/$host_name" run "$work/in.sql" >"$work/out"
    check "the module in ../lib/external-preprocessor: exit 0" $?
    cmp -s "$work/in.sql" "$work/out"; check "the module in ../lib/external-preprocessor runs" $?
    ln -s "$tree/bin/$host_name" "$work/elsewhere/pp"
    "$work/elsewhere/pp" info | grep -qxF "Settings file: $tree/lib/external-preprocessor/external_preprocessor.ini"
    check "a link to plugin-host finds the module from the real file's folder" $?
    cp "$work/$module_name" "$tree/bin/"
    "$work/elsewhere/pp" info | grep -qF "Settings file: $tree/bin/external_preprocessor.ini"
    check "the module beside plugin-host comes first" $?
    cp "$host" "$work/elsewhere/alone"
    "$work/elsewhere/alone" run <"$work/in.sql" >"$work/out" 2>"$work/err"
    check "no module anywhere exits 2" "$(status_is 2 $?)"
    grep -qF "no module found: looked for $work/elsewhere/$module_name and $work/lib/external-preprocessor/$module_name" "$work/err"
    check "no module anywhere: says where it looked" $?
fi

# --- The password without the command line -----------------------------------------
# --password-file gives the first line of a file, PREPROCESSOR_PASSWORD when
# neither it nor -p is given; -p still comes first.
settings "\"$child_path\" --child echo-args %p"
printf 'from file\r\nsecond line\n' >"$work/password"
password() { # password EXPECTED NAME ARGS...
    local expected=$1 name=$2
    shift 2
    host_cmd run "$@" </dev/null >"$work/out" 2>"$work/err"
    check "$name exits 0" $?
    [ "$(tr -d '\r' <"$work/out")" = "${#expected}:$expected" ]
    check "$name gives '$expected' ($(cat "$work/out"))" $?
}
password "from file" "--password-file" --password-file "$(to_native "$work/password")"
PREPROCESSOR_PASSWORD="from env" password "from env" "PREPROCESSOR_PASSWORD"
PREPROCESSOR_PASSWORD="from env" password "given" "-p over PREPROCESSOR_PASSWORD" -p given
PREPROCESSOR_PASSWORD="from env" password "from file" "--password-file over PREPROCESSOR_PASSWORD" \
    --password-file "$(to_native "$work/password")"
printf 'no line end' >"$work/password"
password "no line end" "--password-file without a line end" --password-file "$(to_native "$work/password")"
: >"$work/password"
PREPROCESSOR_PASSWORD="from env" password "" "an empty --password-file" \
    --password-file "$(to_native "$work/password")"
# Refused with exit 2 before anything runs.
settings "\"$child_path\" --child mark $(to_native "$work/ran") %p"
refused() { # refused NAME MESSAGE ARGS...
    local name=$1 message=$2
    shift 2
    rm -f "$work/ran"
    host_cmd run "$@" <"$work/in.sql" >"$work/out" 2>"$work/err"
    check "$name exits 2" "$(status_is 2 $?)"
    grep -qF -- "$message" "$work/err"; check "$name says '$message'" $?
    [ ! -e "$work/ran" ]; check "$name: nothing was run" $?
    [ ! -s "$work/out" ]; check "$name: nothing on standard output" $?
}
refused "a missing --password-file" "cannot read '$(to_native "$work/no-password")'" \
    --password-file "$(to_native "$work/no-password")"
mkdir -p "$work/dir-password"
refused "a folder as --password-file" "cannot read" --password-file "$(to_native "$work/dir-password")"
printf '%064d\n' 0 >"$work/password"
refused "a password of 64 characters" "is longer than 63 characters" \
    --password-file "$(to_native "$work/password")"
PREPROCESSOR_PASSWORD=$(printf '%064d' 0) refused "PREPROCESSOR_PASSWORD of 64 characters" \
    "PREPROCESSOR_PASSWORD is longer than 63 characters"
settings "\"$child_path\" --child cat %f"

# --- run: a copying filter over a file, standard input and in place ----------
host_cmd run "$(to_native "$work/in.sql")" >"$work/out.sql"
check "run over a file exits 0" $?
cmp -s "$work/in.sql" "$work/out.sql"; check "run over a file gives the text back" $?
host_cmd run <"$work/in.sql" >"$work/out2.sql"
check "run over standard input exits 0" $?
cmp -s "$work/in.sql" "$work/out2.sql"; check "run over standard input gives the text back" $?
host_cmd run - <"$work/in.sql" >"$work/out2.sql"
cmp -s "$work/in.sql" "$work/out2.sql"; check "run - reads standard input" $?

settings "\"$child_path\" --child echo-args %u %p %d %o %N"
printf 'x' >"$work/edit.sql"
: >"$work/stdout"
before=$(ls "$work")
host_cmd run -u scott -p tiger -d orcl -o out -N name --in-place "$(to_native "$work/edit.sql")" >"$work/stdout"
check "in place exits 0" $?
[ "$(cat "$work/edit.sql")" = "$(printf '5:scott\n5:tiger\n4:orcl\n3:out\n4:name')" ]
check "in place replaces the file with the output" $?
[ ! -s "$work/stdout" ]; check "in place prints nothing" $?
[ "$(ls "$work")" = "$before" ]; check "in place leaves no other file" $?

# Several FILEs, each its own run; the status is the worst of theirs.
settings "\"$child_path\" --child echo-args %f"
printf 'one' >"$work/one.sql"
printf 'two' >"$work/two.sql"
host_cmd run --in-place "$(to_native "$work/one.sql")" "$(to_native "$work/missing.sql")" \
    "$(to_native "$work/two.sql")" 2>"$work/err"
check "several FILEs: the worst status (2 for the missing one)" "$(status_is 2 $?)"
grep -q "cannot read" "$work/err"; check "several FILEs: the missing one is named" $?
grep -qi '^[0-9]*:.*se.*\.TMP$' "$work/one.sql"; check "several FILEs: the first was run" $?
grep -qi '^[0-9]*:.*se.*\.TMP$' "$work/two.sql"; check "several FILEs: the last was run" $?
printf 'one' >"$work/one.sql"
printf 'two' >"$work/two.sql"
host_cmd run --in-place "$(to_native "$work/one.sql")" "$(to_native "$work/two.sql")"
check "several FILEs that all succeed exit 0" $?

# --- The text after every run is on standard output --------------------------
# A program that cannot start: exit 1, the box on standard error, the text
# unchanged on standard output, the file kept.
settings "\"$child_path.missing\" %f"
printf 'keep me\n' >"$work/keep.sql"
host_cmd run --in-place "$(to_native "$work/keep.sql")" 2>"$work/err"
check "failed run in place exits 1" "$(status_is 1 $?)"
[ "$(cat "$work/keep.sql")" = "keep me" ]; check "failed run in place keeps the file" $?
grep -q "keep.sql' was left as it was" "$work/err"; check "failed run in place names the file" $?
host_cmd run "$(to_native "$work/keep.sql")" >"$work/out" 2>"$work/err"
check "failed run exits 1" "$(status_is 1 $?)"
cmp -s "$work/keep.sql" "$work/out"; check "failed run writes the text unchanged" $?
grep -q '^Execute Error!: ' "$work/err"; check "failed run: the box is a line on standard error" $?
host_cmd run <"$work/keep.sql" >"$work/out" 2>/dev/null
cmp -s "$work/keep.sql" "$work/out"; check "failed run over standard input writes it unchanged" $?
# A program that fails: its box, with what it wrote to its standard error.
settings "\"$child_path\" --child stderr-exit 7 it-failed"
host_cmd run "$(to_native "$work/keep.sql")" >"$work/out" 2>"$work/err"
check "failing program exits 1" "$(status_is 1 $?)"
cmp -s "$work/keep.sql" "$work/out"; check "failing program: the text unchanged" $?
grep -q '^Error: The program ended with exit code 7' "$work/err" && grep -q it-failed "$work/err"
check "failing program: the box is a line on standard error" $?
if [ "$target" != native ]; then
    # --show-boxes leaves the boxes to the system, which without a display
    # shows them nowhere.
    host_cmd run --show-boxes "$(to_native "$work/keep.sql")" >"$work/out" 2>"$work/err"
    check "--show-boxes without a display exits 1" "$(status_is 1 $?)"
    ! grep -q '^Error: ' "$work/err"; check "--show-boxes: no box line" $?
fi
if [ "$target" = native ]; then
    # A caller that ignores SIGCHLD: the program's exit status still counts.
    perl -e '$SIG{CHLD}="IGNORE"; exec @ARGV' "$host" run "$work/keep.sql" \
        >"$work/out" 2>"$work/err"
    check "SIGCHLD ignored by the caller: exit 1" "$(status_is 1 $?)"
    cmp -s "$work/keep.sql" "$work/out"; check "SIGCHLD ignored by the caller: the text is kept" $?
    grep -q 'exit code 7' "$work/err"; check "SIGCHLD ignored by the caller: says why" $?
    settings "\"$child_path.missing\" %f"
    # Standard error is standard output (an editor's 2>&1): the box goes to
    # the terminal, here none, and never into the text.
    detached "$host" run "$work/keep.sql" >"$work/out" 2>&1
    check "2>&1: exit 1" "$(status_is 1 $?)"
    cmp -s "$work/keep.sql" "$work/out"; check "2>&1: standard output holds the text alone" $?
    detached "$host" run <"$work/keep.sql" 2>&1 | cat >"$work/out"
    cmp -s "$work/keep.sql" "$work/out"; check "2>&1 into a pipe: the text alone" $?
fi

# A text holding a NUL byte is refused (the file's name avoids NUL, a device
# name on Windows whatever the extension) (exit 2) and comes back unchanged;
# the message stays out of the text when both streams are one file.
printf 'a\0b\n' >"$work/zero-byte.sql"
host_cmd run "$(to_native "$work/zero-byte.sql")" >"$work/out" 2>"$work/err"
check "a NUL byte exits 2" "$(status_is 2 $?)"
grep -q "NUL byte" "$work/err"; check "a NUL byte says so" $?
cmp -s "$work/zero-byte.sql" "$work/out"; check "a NUL byte: the text comes back unchanged" $?
if [ "$target" = native ]; then
    # (Under Wine the standard handles a Unix shell hands over cannot be
    # asked which file they are, so there the two streams cannot be told
    # to be one.)
    detached "$host" run "$work/zero-byte.sql" >"$work/out" 2>&1
    cmp -s "$work/zero-byte.sql" "$work/out"; check "a NUL byte, 2>&1: the text alone" $?
fi
host_cmd run --in-place "$(to_native "$work/zero-byte.sql")" 2>"$work/err"
check "a NUL byte in place exits 2" "$(status_is 2 $?)"
cmp -s "$work/zero-byte.sql" <(printf 'a\0b\n'); check "a NUL byte in place: the file is kept" $?

# --- Bounded input ---------------------------------------------------------------
# The plug-in takes at most 102398 bytes; one more is refused before anything
# is loaded or run. A refused regular file comes back unchanged; what comes
# through a pipe is not read to its end and nothing is written.
settings "\"$child_path\" --child cat %f"
head -c 102398 /dev/zero | tr '\0' 'a' >"$work/full.sql"
host_cmd run "$(to_native "$work/full.sql")" >"$work/full.out"
check "102398 bytes exit 0" $?
cmp -s "$work/full.sql" "$work/full.out"; check "102398 bytes come back whole" $?
head -c 102399 /dev/zero | tr '\0' 'a' >"$work/big.sql"
settings "\"$child_path\" --child mark $(to_native "$work/ran") %f"
rm -f "$work/ran"
host_cmd run "$(to_native "$work/big.sql")" >"$work/out" 2>"$work/err"
check "102399 bytes exit 2" "$(status_is 2 $?)"
grep -q "at most 102398 bytes" "$work/err"; check "102399 bytes: says so" $?
cmp -s "$work/big.sql" "$work/out"; check "102399 bytes from a file come back unchanged" $?
[ ! -e "$work/ran" ]; check "102399 bytes: nothing was run" $?
host_cmd run --module "$(to_native "$work/missing-module")" <"$work/big.sql" >"$work/out" 2>"$work/err"
check "102399 bytes: refused before loading" "$(status_is 2 $?)"
grep -q "at most 102398 bytes" "$work/err"; check "102399 bytes: refused before loading, says so" $?
cat "$work/big.sql" | host_cmd run >"$work/out" 2>/dev/null
check "102399 bytes through a pipe exit 2" "$(status_is 2 $?)"
[ ! -s "$work/out" ]; check "102399 bytes through a pipe: nothing written" $?
cp "$work/big.sql" "$work/big.copy"
host_cmd run --in-place "$(to_native "$work/big.sql")" 2>/dev/null
check "102399 bytes in place exit 2" "$(status_is 2 $?)"
cmp -s "$work/big.sql" "$work/big.copy"; check "102399 bytes in place: the file is kept" $?

# A read error is an error, never an empty text.
mkdir -p "$work/dir"
host_cmd run "$(to_native "$work/dir")" >"$work/out" 2>"$work/err"
check "a directory exits 2" "$(status_is 2 $?)"
grep -q "cannot read" "$work/err"; check "a directory: says it cannot be read" $?
[ ! -s "$work/out" ]; check "a directory: nothing written" $?
if [ "$target" = native ]; then
    grep -q "Is a directory" "$work/err"; check "a directory: says why" $?
    # The host's own memory at address 0 is an input/output error.
    host_cmd run /proc/self/mem >"$work/out" 2>"$work/err"
    check "an I/O error exits 2" "$(status_is 2 $?)"
    grep -q "Input/output error" "$work/err"; check "an I/O error says so" $?
    host_cmd run </proc/self/mem >/dev/null 2>&1
    check "an I/O error on standard input exits 2" "$(status_is 2 $?)"
    host_cmd run /dev/zero 2>"$work/err" | wc -c >"$work/count"
    check "/dev/zero is refused" "$(status_is 2 "${PIPESTATUS[0]}")"
    [ "$(cat "$work/count")" -eq 0 ]; check "/dev/zero: nothing written" $?
    # Endless input under a memory limit: refused in little memory (the limit
    # does not apply under AddressSanitizer, which reserves its shadow).
    if ! ldd "$host" | grep libasan >/dev/null; then
        yes | (ulimit -v 65536 && exec "$host" run) >/dev/null 2>"$work/err"
        check "yes | under a memory limit exits 2" "$(status_is 2 "${PIPESTATUS[1]}")"
        grep -q "at most 102398 bytes" "$work/err"; check "yes | under a memory limit says why" $?
    fi
    # settings without a terminal says why.
    detached "$host" settings </dev/null >"$work/out" 2>"$work/err"
    check "settings without a terminal exits 1" "$(status_is 1 $?)"
    [ ! -s "$work/out" ]; check "settings without a terminal: nothing on standard output" $?
    grep -q "shown on the terminal, and this process has none" "$work/err"
    check "settings without a terminal says why" $?
    # The module's own copy of the profile reader is bound inside it, and
    # plugin-host's copy is not exported to it.
    ! readelf --dyn-syms -W "$host" | grep -q 'GetPrivateProfileStringA'
    check "plugin-host exports no profile reader" $?
    ! readelf --dyn-syms -W "$work/$module_name" | grep -q 'UND.*GetPrivateProfileStringA'
    check "the module binds its own profile reader" $?
else
    host_cmd settings >"$work/out" 2>"$work/err"
    check "settings without a display exits 1" "$(status_is 1 $?)"
    grep -q "the settings dialog could not be shown" "$work/err"; check "settings without a display says so" $?
fi

# --- Ctrl-C under Wine ------------------------------------------------------------
# Wine turns a SIGINT of a Windows process into a Ctrl-C event for its console
# control handlers: to plugin-host alone, and to the whole process group as a
# terminal sends it. The programs end, the file keeps its text and no
# temporary file is left. Where plugin-host sees the event while the program
# runs, the exit status is 130:
#   host:   to plugin-host alone; the program has started a child of its own,
#           which plugin-host ends first (it holds the capture file open);
#   ignore: to the group; the program ignores Ctrl-C, plugin-host ends it.
# group: to the group, each program gets the event itself and ends at once;
# the run may see that end before plugin-host sees its own event, and then
# keeps the text as after any failed program (exit 1).
# Wine runs a console's Ctrl-C handlers on a new thread, which a 32-bit
# program cannot start where qemu-i386 runs the 32-bit loader (kernels
# without 32-bit support, see enable-wine32.sh): there these cases are
# skipped.
ctrl_c=true
if [ "$target" = win32 ] && wine32_emulated; then
    echo "skipped: Ctrl-C under Wine (32-bit Wine runs under qemu-i386 here)"
    ctrl_c=false
fi
if [ "$target" != native ] && $ctrl_c; then
    mkdir -p "$work/runs"
    start_detached() { # the interrupting signals at their default, in a session of its own
        exec python3 -c 'import os, signal, sys
for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
    signal.signal(number, signal.SIG_DFL)
os.setsid()
os.execvp(sys.argv[1], sys.argv[1:])' "$@"
    }
    programs() { pgrep -f -- "--child [a-z-]+ 61234" | wc -l; }
    for case in host ignore group; do
        case $case in
        host) mode=tree wanted=2 ;;
        ignore) mode=ignore-interrupt wanted=1 ;;
        group) mode=sleep wanted=1 ;;
        esac
        settings "\"$child_path\" --child $mode 61234" "$(to_native "$work/runs")"
        printf 'keep\n' >"$work/ctrlc.sql"
        start_detached $emulator "$host" run --in-place "$(to_native "$work/ctrlc.sql")" \
            >"$work/out" 2>"$work/err" &
        pid=$!
        for _ in $(seq 600); do
            [ "$(programs)" -ge "$wanted" ] && break
            sleep 0.1
        done
        check "Ctrl-C ($case): the programs started" "$([ "$(programs)" -ge "$wanted" ]; echo $?)"
        if [ "$case" = host ]; then kill -INT "$pid"; else kill -INT -- "-$pid"; fi
        wait "$pid"
        status=$?
        if [ "$case" = group ]; then
            check "Ctrl-C ($case): exit 130 or 1 ($status)" "$([[ $status = 130 || $status = 1 ]]; echo $?)"
        else
            check "Ctrl-C ($case): exit 130 ($status)" "$(status_is 130 $status)"
            grep -q "ended by Ctrl-C" "$work/err"; check "Ctrl-C ($case): says so" $?
        fi
        [ "$(cat "$work/ctrlc.sql")" = keep ]; check "Ctrl-C ($case): the file keeps its text" $?
        [ -z "$(ls "$work/runs")" ]; check "Ctrl-C ($case): no temporary file left" $?
        [ "$(programs)" -eq 0 ]; check "Ctrl-C ($case): no program left running" $?
    done
fi

# --- Ctrl-C typed in a real console, under Wine -------------------------------------
# plugin-host.exe in a terminal (a tmux pane of its own), as a user runs it:
# Wine gives it a console whose window belongs to another process, the
# console host. Ctrl-C typed there ends the run as Cancel does, and the run
# ends its job: exit 130, the message, the file kept, no temporary file and
# no program left; the console host is not ended. While the progress window
# showed (it has no owner in a console), the console's window stayed
# enabled: the program, started in that console, looked at it. With the
# display given, if any, in a Wine session of its own: there the progress
# window is a real window.
if [ "$target" != native ]; then
    console=ep-console-$$
    on_exit "tmux -L $console kill-server 2>/dev/null"
    end_session
    mkdir -p "$work/runs"
    settings "\"$child_path\" --child console-tree 61235 $(to_native "$work/ids")" \
        "$(to_native "$work/runs")"
    printf 'keep\n' >"$work/console.sql"
    tmux -L "$console" new-session -d -x 150 -y 30 -c "$work" "env -i PATH=/usr/bin:/bin \
TERM=screen HOME=$HOME WINEPREFIX=$WINEPREFIX WINEDEBUG=-all \
${display:+DISPLAY=$display XAUTHORITY=${XAUTHORITY:-}} bash --norc --noprofile"
    tmux -L "$console" send-keys "$emulator '$host' run --in-place \
'$(to_native "$work/console.sql")' 2>console-err; echo \$? >console-status" Enter
    for _ in $(seq 600); do
        [ -s "$work/ids.console" ] && break
        sleep 0.1
    done
    [ -s "$work/ids.console" ]; check "Ctrl-C in a console: the program ran a second and a half" $?
    tmux -L "$console" send-keys C-c
    for _ in $(seq 300); do
        [ -s "$work/console-status" ] && break
        sleep 0.1
    done
    check "Ctrl-C in a console: exit 130" "$(status_is 130 "$(cat "$work/console-status")")"
    grep -q "ended by Ctrl-C" "$work/console-err"; check "Ctrl-C in a console: says so" $?
    [ "$(cat "$work/console.sql")" = keep ]; check "Ctrl-C in a console: the file keeps its text" $?
    no_temporary_files "Ctrl-C in a console" "$work/runs"
    ! pgrep -f -- "--child [a-z-]+ 61235" >/dev/null; check "Ctrl-C in a console: no program left" $?
    state=$(cat "$work/ids.console")
    [ "$state" = enabled ]; check "Ctrl-C in a console: its window stayed enabled ($state)" $?
    tmux -L "$console" kill-server 2>/dev/null
    end_session
fi

# --- The boxes with a display, under Wine -----------------------------------------
# With a display the system would show the box and wait for a click; the
# run writes it as a line and ends instead. The time limit only keeps a
# waiting box from holding the test to its own timeout.
if [ "$target" != native ] && [ -n "$display" ]; then
    end_session
    settings "\"$child_path\" --child stderr-exit 7 it-failed"
    DISPLAY=$display timeout 120 $emulator "$host" run "$(to_native "$work/keep.sql")" \
        >"$work/out" 2>"$work/err"
    check "with a display: a failing program exits 1 (not waiting on a box)" "$(status_is 1 $?)"
    grep -q '^Error: The program ended with exit code 7' "$work/err"
    check "with a display: the box is a line on standard error" $?
    cmp -s "$work/keep.sql" "$work/out"; check "with a display: the text unchanged" $?
    end_session
fi

finish
