#!/bin/bash
# The habits, checked: every C/C++ source formatted as .clang-format says
# (clang-format --dry-run -Werror) and every shell script free of warnings
# (shellcheck -S warning); then static analysis of the project's own sources
# (plugin/, settings/, run/, resources/, platform/, posix/, host/, tests/, bench/,
# fuzz/): clang-tidy 14 with the checked-in .clang-tidy files, and cppcheck
# 2.10 with cmake/cppcheck-suppressions.txt, both over the compile database
# of the native preset (clang-tidy alone over that of the fuzz preset for
# fuzz/). Where mingw-w64 is installed, a second pass lints the sources as
# compiled for 64-bit Windows (the Windows files of host/ and tests/ and the
# plug-in against the real <windows.h>): clang-tidy with the mingw headers,
# cppcheck with its Windows library. Exits non-zero on any finding.
#
# usage: lint.sh [--native]   (--native: skip the Windows pass)
#
# Needs: git, clang-format, shellcheck, cmake, python3, clang-tidy-14
# (clang-tidy, run-clang-tidy-14), cppcheck, libgtest-dev and
# libncurses-dev; for the Windows pass g++-mingw-w64-x86-64.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=2
windows=true
if [ "${1:-}" = --native ]; then
    windows=false
fi
mingw_cxx=x86_64-w64-mingw32-g++-posix
if $windows && ! command -v "$mingw_cxx" >/dev/null; then
    echo "lint: $mingw_cxx not found; the Windows pass is skipped" >&2
    windows=false
fi

# The project's own translation units, as a regular expression on the path.
sources="^$root/(plugin|settings|run|resources|platform|posix|host|tests|bench|fuzz)/"
status=0
started=$SECONDS

# Runs a step; on failure notes it and goes on, so every tool reports.
step() {
    local name=$1
    shift
    local begin=$SECONDS
    echo "lint: $name" >&2
    if ! "$@"; then
        echo "lint: $name: FINDINGS" >&2
        status=1
    fi
    echo "lint: $name: $((SECONDS - begin)) s" >&2
}

# Configures quietly; the log is shown only when configuring fails.
configure() {
    local log
    log=$(mktemp)
    if ! cmake "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}

# Writes to $2/compile_commands.json the entries of $1's database for the
# project's own sources (not GoogleTest's, which the Windows build compiles).
own_database() {
    mkdir -p "$2"
    python3 -c '
import json, re, sys
source, target, pattern = sys.argv[1:]
kept = [entry for entry in json.load(open(source)) if re.match(pattern, entry["file"])]
json.dump(kept, open(target, "w"), indent=1)
' "$1/compile_commands.json" "$2/compile_commands.json" "$sources"
}

# run-clang-tidy prints each command it runs and colours its output: only
# the findings are kept, in plain text.
tidy() {
    run-clang-tidy-14 -j "$jobs" -quiet "$@" 2>/dev/null | sed -r 's/\x1b\[[0-9;]*m//g' |
        grep -v '^clang-tidy-14 '
    return "${PIPESTATUS[0]}"
}

check() {
    cppcheck --enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr \
        --suppressions-list="$root/cmake/cppcheck-suppressions.txt" --quiet -j "$jobs" \
        --template='{file}:{line}:{column}: {severity}: {message} [{id}]' "$@"
}

# --- Format and scripts ------------------------------------------------------
# Every C and C++ source as .clang-format has it, and every shell script
# (those named *.sh and those whose first line names a shell) free of
# warnings of shellcheck.
format_check() {
    git -C "$root" ls-files -z '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' |
        (cd "$root" && xargs -0 clang-format --dry-run -Werror)
}
shell_scripts() {
    git -C "$root" ls-files | while read -r file; do
        case $file in
        *.sh) echo "$file" ;;
        *) head -n 1 "$root/$file" 2>/dev/null | grep -qE '^#!.*\b(ba|da)?sh\b' && echo "$file" ;;
        esac
    done
}
script_check() {
    local scripts
    mapfile -t scripts < <(shell_scripts)
    (cd "$root" && shellcheck -x -S warning "${scripts[@]}")
}
step "clang-format" format_check
step "shellcheck" script_check

# --- Native ------------------------------------------------------------------
step "configure native" configure --preset native
native_db=$root/build/lint/native
own_database "$root/build/native" "$native_db"
step "clang-tidy native" tidy -p "$native_db" "$sources"
step "cppcheck native" check --project="$native_db/compile_commands.json" \
    --library=posix --library=googletest

# --- Fuzz targets (clang, their own preset) ----------------------------------
step "configure fuzz" configure --preset fuzz -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
fuzz_db=$root/build/lint/fuzz
own_database "$root/build/fuzz" "$fuzz_db"
step "clang-tidy fuzz" tidy -p "$fuzz_db" "^$root/fuzz/"

# --- 64-bit Windows ----------------------------------------------------------
if $windows; then
    # A build folder of its own, so that a win64 build in progress is not
    # reconfigured under it.
    win_build=$root/build/lint/win64-build
    win_db=$root/build/lint/win64
    step "configure win64" configure --preset win64 -B "$win_build" \
        -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
    own_database "$win_build" "$win_db"
    # clang finds mingw's C headers by itself, but not GCC's C++ library.
    # mingw's headers paste a lowercase "l" onto Windows constants
    # (__MSABI_LONG), which cert-dcl16-c reports without a location; the
    # native pass keeps the check for our own literals.
    win_args=(-extra-arg=--target=x86_64-w64-mingw32 -checks=-cert-dcl16-c)
    while read -r dir; do
        win_args+=("-extra-arg=-isystem$dir")
    done < <(echo | "$mingw_cxx" -E -x c++ - -v 2>&1 | sed -n 's|^ \(/.*/include/c++.*\)$|\1|p')
    step "clang-tidy win64" tidy -p "$win_db" "${win_args[@]}" "$sources"
    step "cppcheck win64" check --project="$win_db/compile_commands.json" \
        --platform=win64 -D_WIN32 -D_WIN64 --library=windows --library=googletest
fi

echo "lint: $([ $status -eq 0 ] && echo clean || echo FINDINGS) in $((SECONDS - started)) s" >&2
exit $status
