#!/bin/bash
# vim and Emacs as real clients: each runs plugin-host as its filter command
# in batch mode, over the whole buffer and over a range of lines, as the
# recipes of docs/plugin-host.md do (vim: ":%!plugin-host run" and
# ":2,3!plugin-host run"; Emacs: C-u M-| over the buffer and over a region,
# which read the command's standard output and standard error together, and
# the page's own command plugin-host-region, taken from the page itself,
# which shows a failure's message in an error buffer). After a successful
# run the buffer is the new text byte for byte; after a missing program, a
# failing program and output over the limit it is exactly what it was, and
# the error buffer says why.
#
# Each editor runs in a session of its own, without a controlling terminal,
# so that no message box can wait on the terminal the tests run in.
#
# usage: editors_test.sh BUILD_DIR CHILD_PROGRAM
set -uo pipefail
build=$1
child=$2

# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"

for editor in vim emacs; do
    if ! command -v "$editor" >/dev/null; then
        echo "FAIL: $editor is not installed (scripts/setup.sh installs it)" >&2
        exit 1
    fi
done

work_folder
# The Emacs command as the page shows it, without its indentation.
page=$(dirname "$0")/../docs/plugin-host.md
sed -n '/^ *(defun plugin-host-region/,/^ *(global-set-key/p' "$page" | sed 's/^  //' >"$work/recipe.el"
grep -q 'shell-command-on-region start end "plugin-host run" nil t "\*plugin-host\*" t' "$work/recipe.el"
check "docs/plugin-host.md has the Emacs command with an error buffer" $?
mkdir "$work/runs"
private_host "$build" "$work/bin" "$child"
export HOME=$work # the editors' own files stay in the test's directory
settings() { write_settings "$1" "$work/runs"; }

printf 'select name,\n\tamount  \nfrom orders;\n-- end\n' >"$work/original.sql"
# The successful program turns the text to capitals.
upper() { tr a-z A-Z <"$work/original.sql"; }
upper_range() { sed -n 1p "$work/original.sql"; sed -n 2,3p "$work/original.sql" | tr a-z A-Z; sed -n '4,$p' "$work/original.sql"; }

vim_filter() { # vim_filter RANGE OUTPUT
    cp "$work/original.sql" "$work/edit.sql"
    setsid -w vim -u NONE -i NONE -N -es -c "$1!$host run" -c "w! $2" -c 'qa!' "$work/edit.sql" \
        </dev/null >/dev/null 2>&1
}
emacs_filter() { # emacs_filter all|range OUTPUT
    cp "$work/original.sql" "$work/edit.sql"
    local region="(point-min) (point-max)"
    if [ "$1" = range ]; then
        region="(progn (goto-char (point-min)) (forward-line 1) (point))
                 (progn (forward-line 2) (point))"
    fi
    setsid -w emacs --batch -Q --eval "(progn
        (find-file \"$work/edit.sql\")
        (shell-command-on-region $region \"$host run\" t t)
        (write-region nil nil \"$2\"))" </dev/null >/dev/null 2>&1
}

# The page's Emacs command over the whole buffer, with plugin-host on the
# PATH; the error buffer goes to a file of its own.
emacs_recipe() { # emacs_recipe OUTPUT ERRORS
    cp "$work/original.sql" "$work/edit.sql"
    PATH="$work/bin:$PATH" setsid -w emacs --batch -Q --eval "(progn
        (load-file \"$work/recipe.el\")
        (find-file \"$work/edit.sql\")
        (plugin-host-region (point-min) (point-max))
        (write-region nil nil \"$1\")
        (with-current-buffer (get-buffer-create \"*plugin-host*\")
          (write-region nil nil \"$2\")))" </dev/null >/dev/null 2>&1
}

# Runs one case through both editors, over the buffer and over a range.
# expect: new (the new text) or kept (the buffer as it was); message: what
# the error buffer of the page's Emacs command holds (nothing when empty).
editors() { # editors NAME EXPECT [MESSAGE]
    local name=$1 expect=$2 message=${3:-}
    local whole=$work/original.sql range=$work/original.sql
    if [ "$expect" = new ]; then
        upper >"$work/expected-whole"
        upper_range >"$work/expected-range"
        whole=$work/expected-whole
        range=$work/expected-range
    fi
    vim_filter % "$work/out"
    cmp -s "$whole" "$work/out"; check "vim :%!, $name: the buffer is $expect" $?
    vim_filter 2,3 "$work/out"
    cmp -s "$range" "$work/out"; check "vim :2,3!, $name: the buffer is $expect" $?
    emacs_filter all "$work/out"
    cmp -s "$whole" "$work/out"; check "Emacs C-u M-|, $name: the buffer is $expect" $?
    emacs_filter range "$work/out"
    cmp -s "$range" "$work/out"; check "Emacs C-u M-| on a region, $name: the buffer is $expect" $?
    rm -f "$work/errors"
    emacs_recipe "$work/out" "$work/errors"
    cmp -s "$whole" "$work/out"; check "Emacs plugin-host-region, $name: the buffer is $expect" $?
    if [ -z "$message" ]; then
        [ -f "$work/errors" ] && [ ! -s "$work/errors" ]
        check "Emacs plugin-host-region, $name: the error buffer is empty" $?
    else
        grep -qF -- "$message" "$work/errors"
        check "Emacs plugin-host-region, $name: the error buffer says '$message'" $?
    fi
    no_temporary_files "$name" "$work/runs"
}

settings '/bin/sh -c "tr a-z A-Z < %f"'
editors "a successful run" new
settings "$work/bin/missing-program %f"
editors "a missing program" kept "Execute Error!: "
settings "$child_path --child stderr-exit 7 failed"
editors "a failing program" kept "Error: The program ended with exit code 7"
settings "$child_path --child write 102401"
editors "output over the limit" kept "more than 102400 bytes"

finish
