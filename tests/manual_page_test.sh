#!/bin/bash
# plugin-host's manual page: mandoc finds nothing to warn about in it, man
# renders it without a warning, and every option and command that
# `plugin-host --help` names is described in it.
#
# usage: manual_page_test.sh PAGE PLUGIN_HOST
set -uo pipefail
page=$1
host=$2

# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"

work_folder

# mandoc's own check: warnings and errors (its style notes about manuals
# this machine lacks depend on the machine, not on the page).
mandoc -T lint -W warning "$page" >"$work/lint" 2>&1
check "mandoc -T lint exits 0" $?
[ ! -s "$work/lint" ]
status=$?
check "mandoc -T lint finds nothing: $(cat "$work/lint")" $status

# man renders the page as a user reads it, through groff, without a warning.
MANWIDTH=80 man --warnings -l "$page" >"$work/man" 2>"$work/man-warnings"
check "man -l exits 0" $?
[ ! -s "$work/man-warnings" ]
status=$?
check "man -l gives no warning: $(cat "$work/man-warnings")" $status
for heading in NAME SYNOPSIS DESCRIPTION ENVIRONMENT FILES "EXIT STATUS" SIGNALS EXAMPLES; do
    grep -q "^$heading\$" "$work/man"; check "man -l shows the section $heading" $?
done
grep -q 'PREPROCESSOR_PASSWORD' "$work/man"; check "the page names PREPROCESSOR_PASSWORD" $?
grep -q 'TMPDIR' "$work/man"; check "the page names TMPDIR" $?

# Every option of --help, and every command of its usage, in the page as
# mandoc renders it (mandoc breaks lines only between words).
"$host" --help >"$work/help"
check "--help exits 0" $?
grep -q 'man plugin-host' "$work/help"; check "--help names man plugin-host" $?
[ "$(tail -n 1 "$work/help" | grep -c 'man plugin-host')" -eq 1 ]
check "--help ends by naming man plugin-host" $?
mandoc -T ascii "$page" | col -b >"$work/text"
mapfile -t options < <(grep -oE '(^|[ ,[|])--?[A-Za-z][A-Za-z-]*' "$work/help" |
    sed 's/^[ ,[|]//' | sort -u)
[ "${#options[@]}" -ge 10 ]; check "--help names at least 10 options (${#options[@]})" $?
for option in "${options[@]}"; do
    grep -qE -- "(^|[^A-Za-z-])$option([^A-Za-z-]|\$)" "$work/text"
    check "the page describes $option" $?
done
mapfile -t commands < <(sed -n 's/^ *\(usage:\)\? *plugin-host \([a-z]\+\) .*/\2/p' "$work/help" | sort -u)
[ "${#commands[@]}" -eq 3 ]; check "--help names 3 commands (${commands[*]})" $?
for command in "${commands[@]}"; do
    grep -qE "^     plugin-host $command( |\$)" "$work/text"; check "the synopsis has $command" $?
    grep -qE "^     $command( |\$)" "$work/text"; check "the page describes $command" $?
done

finish
