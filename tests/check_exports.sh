#!/bin/bash
# Checks that a built module exports exactly the names of the export list.
# usage: check_exports.sh MODULE DEF_FILE
set -euo pipefail
module=$1
def=$2
expected=$(awk '/^EXPORTS/{on=1; next} on && NF {print $1}' "$def" | sort)
case "$module" in
*.so)
    actual=$(nm -D --defined-only "$module" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | sort)
    ;;
*.dll)
    objdump=x86_64-w64-mingw32-objdump
    command -v "$objdump" >/dev/null || objdump=i686-w64-mingw32-objdump
    actual=$("$objdump" -p "$module" |
        sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        awk -F'] ' '/\[/ && NR > 1 {print $2}' | sort)
    # No C++ or threading runtime DLL may travel with the module.
    if "$objdump" -p "$module" | grep -iE 'DLL Name: *(libstdc|libgcc|libwinpthread)'; then
        echo "$module imports a runtime DLL" >&2
        exit 1
    fi
    ;;
*)
    echo "unknown module type: $module" >&2
    exit 2
    ;;
esac
if [ "$actual" != "$expected" ]; then
    echo "exports of $module differ from $def" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    exit 1
fi
echo "exports of $module: $(echo $actual)"
