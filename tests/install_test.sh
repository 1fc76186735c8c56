#!/bin/bash
# `cmake --install` on Linux: the files it lays out under a prefix (bin/,
# lib/external-preprocessor/, the manual page, the documents), and
# plugin-host run from there through the PATH as a user runs it: from the
# prefix's bin/, from a copy of the whole tree elsewhere (nothing depends on
# where it was installed), through a symbolic link in another folder of the
# PATH; a copy of the program alone says where it looked for its module. man
# finds the installed manual page through the PATH and renders it.
#
# usage: install_test.sh BUILD_DIR CHILD_PROGRAM
set -uo pipefail
build=$1
child=$2
source=$(cd "$(dirname "$0")/.." && pwd)

# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"

work_folder
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1
status=$?
check "cmake --install exits 0 ($(tail -n 3 "$work/install.log"))" $status

# Exactly these files: no settings file, no test program.
doc=share/doc/external-preprocessor
{
    echo bin/plugin-host
    echo lib/external-preprocessor/external_preprocessor.so
    echo share/man/man1/plugin-host.1
    printf '%s\n' "$doc/README.md" "$doc/LICENSE" "$doc/docs/plugin-host.1.html"
    for page in "$source"/docs/*.md "$source"/docs/*.png; do
        echo "$doc/docs/$(basename "$page")"
    done
    printf '%s\n' "$doc/examples/external_preprocessor.ini" "$doc/examples/report.sql" \
        "$doc/examples/common.sql"
} | sort >"$work/expected"
(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) >"$work/found"
diff "$work/expected" "$work/found" >&2
check "the prefix holds exactly the expected files (diff above: < expected, > found)" $?
[ -x "$prefix/bin/plugin-host" ]; check "bin/plugin-host is executable" $?
# The settings file goes beside the module: the folder is the user's own.
[ "$(stat -c %u "$prefix/lib/external-preprocessor")" = "$(id -u)" ]
check "lib/external-preprocessor belongs to the user who installed" $?

# The installed tree moved elsewhere, its bin/ on the PATH, run from an
# unrelated folder.
cp -a "$prefix" "$work/moved"
rm -rf "$prefix"
lib=$work/moved/lib/external-preprocessor
printf '[Path]\nCommandLine="%s" --child cat %%f\n' "$child" >"$lib/external_preprocessor.ini"
printf 'select 1;\n' >"$work/in.sql"
mkdir "$work/elsewhere"
(cd "$work/elsewhere" && PATH="$work/moved/bin:$PATH" plugin-host run "$work/in.sql") >"$work/out"
check "plugin-host from the PATH exits 0" $?
cmp -s "$work/in.sql" "$work/out"; check "plugin-host from the PATH runs the installed module" $?
PATH="$work/moved/bin:$PATH" plugin-host info | grep -qxF "Settings file: $lib/external_preprocessor.ini"
check "plugin-host from the PATH reads the settings beside the installed module" $?

# A symbolic link in another folder of the PATH leads to the installed tree.
mkdir "$work/path"
ln -s "$work/moved/bin/plugin-host" "$work/path/plugin-host"
PATH="$work/path:$PATH" plugin-host run "$work/in.sql" >"$work/out"
check "a link on the PATH exits 0" $?
cmp -s "$work/in.sql" "$work/out"; check "a link on the PATH runs the installed module" $?

# A copy of the program alone finds no module, says where it looked, and
# runs with --module naming the installed folder.
rm "$work/path/plugin-host"
cp "$work/moved/bin/plugin-host" "$work/path/plugin-host"
PATH="$work/path:$PATH" plugin-host run <"$work/in.sql" >"$work/out" 2>"$work/err"
check "a lone copy on the PATH exits 2" "$(status_is 2 $?)"
grep -qF "no module found: looked for $work/path/external_preprocessor.so and $work/lib/external-preprocessor/external_preprocessor.so" "$work/err"
check "a lone copy says where it looked" $?
PATH="$work/path:$PATH" plugin-host run --module "$lib" "$work/in.sql" >"$work/out"
check "a lone copy with --module FOLDER exits 0" $?
cmp -s "$work/in.sql" "$work/out"; check "a lone copy with --module FOLDER runs" $?

# The installed manual page, as man finds it from the PATH (bin/ beside
# share/man/).
[ "$(PATH="$work/moved/bin:$PATH" man -w plugin-host)" = "$work/moved/share/man/man1/plugin-host.1" ]
check "man finds the installed page through the PATH" $?
PATH="$work/moved/bin:$PATH" MANWIDTH=80 man --warnings plugin-host >"$work/man" 2>"$work/man-warnings"
check "man plugin-host exits 0" $?
grep -q -- '--password-file' "$work/man"; check "the installed page renders" $?
[ ! -s "$work/man-warnings" ]; check "the installed page renders without a warning" $?

finish
