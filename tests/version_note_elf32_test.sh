#!/bin/bash
# The version note read from a loaded 32-bit (ELF32) module: a stand-in
# module with the real note and the host's module loader are built with
# g++ -m32, and the record the loader reads must be the one plugin-host info
# prints for the native module. Skipped (status 77) where g++ cannot build
# 32-bit programs (g++-multilib, which scripts/setup.sh installs).
#
# usage: version_note_elf32_test.sh SOURCE_DIR PLUGIN_HOST
set -euo pipefail
source_dir=$1
plugin_host=$2

work=$(mktemp -d /tmp/ep-elf32-XXXXXX)
trap 'rm -rf "$work"' EXIT

if ! echo 'int main() { return 0; }' | g++ -m32 -x c++ - -o "$work/probe" 2>/dev/null; then
    echo "g++ -m32 cannot build 32-bit programs here; skipped"
    exit 77
fi
includes=(-I"$source_dir" -I"$source_dir/plugin" -I"$source_dir/platform" -I"$source_dir/resources")
g++ -m32 -std=c++17 -Wall -Wextra -Werror -fPIC -shared "${includes[@]}" \
    "$source_dir/tests/elf32/stub_module.cpp" "$source_dir/resources/version_note.cpp" \
    -o "$work/external_preprocessor.so"
g++ -m32 -std=c++17 -Wall -Wextra -Werror "${includes[@]}" "$source_dir/tests/elf32/read_record.cpp" \
    "$source_dir/host/module_loader.cpp" "$source_dir/host/module_loader_posix.cpp" \
    -ldl -o "$work/read_record"
if ! file "$work/external_preprocessor.so" | grep -q 'ELF 32-bit'; then
    echo "the stand-in module is not ELF32" >&2
    exit 1
fi

"$work/read_record" "$work/external_preprocessor.so" >"$work/elf32.txt"
# The record alone: the settings file and its values follow it.
"$plugin_host" info | grep -v -e '^Title: ' -e '^Kind: ' | sed '/^Settings file: /,$d' >"$work/native.txt"
if ! grep -qx 'Language: 040904b0' "$work/native.txt"; then
    echo "plugin-host info printed no version record" >&2
    exit 1
fi
if ! diff -u "$work/native.txt" "$work/elf32.txt"; then
    echo "the ELF32 module's record differs from the native module's" >&2
    exit 1
fi
echo "ELF32 record as the native one: $(wc -l <"$work/elf32.txt") lines"
