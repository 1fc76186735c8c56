#!/bin/bash
# The shell test library, through small scripts that source it: each case
# is a line, a failing case is named and makes the script exit nonzero, as
# does a script in which no case ran or a case given no status; on every
# way out (finish, an exit of its own, a signal) the script's actions run,
# its small disk is unmounted and its work folder is gone.
#
# usage: lib_test.sh
set -uo pipefail
lib=$(cd "$(dirname "$0")" && pwd)/lib.sh
# shellcheck source=tests/lib.sh
. "$lib"

work_folder

# script NAME BODY: a script of that name that sources the library first.
script() { printf '#!/bin/bash\nset -uo pipefail\n. "%s"\n%s\n' "$lib" "$2" >"$work/$1.sh"; }
# ran NAME: runs it, its output in NAME.out; the status is its exit status.
ran() { bash "$work/$1.sh" >"$work/$1.out" 2>&1; } 2>/dev/null
said() { grep -qxF -- "$2" "$work/$1.out"; } # said NAME LINE

# --- Counting ------------------------------------------------------------------
script pass 'check first 0; check second "$(status_is 3 3)"; finish'
ran pass
check "cases that pass: exit 0" "$(status_is 0 $?)"
said pass "ok: first" && said pass "ok: second"; check "cases that pass: a line each" $?
said pass "2 passed, 0 failed"; check "cases that pass: the counts" $?

script fail 'check first 0; check second "$(status_is 3 4)"; check third 0; finish'
ran fail
check "a failing case: exit 1" "$(status_is 1 $?)"
said fail "FAIL: second"; check "a failing case: named" $?
said fail "2 passed, 1 failed"; check "a failing case: the counts" $?

script none 'finish'
ran none
check "no case: exit 1" "$(status_is 1 $?)"
said none "FAIL: no case ran"; check "no case: says so" $?

script garbled 'check "no status" ""; check "a word" "$(echo word)"; finish'
ran garbled
check "cases without a status: exit 1" "$(status_is 1 $?)"
said garbled "0 passed, 2 failed"; check "cases without a status: both failed" $?

# --- Leaving -------------------------------------------------------------------
# Each way out: the folder and the disk recorded, the action sees the folder
# still there, and after the script neither the folder nor the mount is left.
for way in finish "exit 3" "kill -TERM \$\$"; do
    rm -f "$work/seen" "$work/action"
    script leave "work_folder
echo \"\$work\" >'$work/seen'
on_exit \"[ -d '\$work' ] && touch '$work/action'\"
small_disk \"\$work/disk\" 1m || echo no-disk
: >\"\$work/disk/file\"
check \"a case\" 0
$way"
    ran leave
    status=$?
    folder=$(cat "$work/seen")
    ! said leave no-disk; check "$way: the small disk was mounted (needs root)" $?
    [ -e "$work/action" ]; check "$way: the action ran while the folder was there" $?
    [ ! -e "$folder" ]; check "$way: the work folder is gone" $?
    ! grep -qF " $folder/disk " /proc/mounts; check "$way: the small disk is unmounted" $?
    case $way in
    finish) check "finish: exit 0" "$(status_is 0 $status)" ;;
    exit*) check "exit 3: the status stays 3" "$(status_is 3 $status)" ;;
    kill*) check "SIGTERM: the status says so" "$(status_is 143 $status)" ;;
    esac
done

# --- The settings file -----------------------------------------------------------
# write_settings, with either line end, as the module reads it: host info
# would show it, here the bytes are compared.
settings_file=$work/settings.ini
write_settings 'prog %f' /some/dir
printf '[Path]\nWorkingDirectory=/some/dir\nCommandLine=prog %%f\n' | cmp -s - "$settings_file"
check "write_settings: the file" $?
settings_eol='\r\n'
write_settings 'prog "%f"'
printf '[Path]\r\nWorkingDirectory=\r\nCommandLine=prog "%%f"\r\n' | cmp -s - "$settings_file"
check "write_settings: Windows line ends, no working directory" $?

finish
