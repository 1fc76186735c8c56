#!/bin/bash
# Makes the package of each built preset with CPack, checks that it holds
# exactly the files it should, unpacks it and checks that the packaged module
# loads and runs: natively the packaged plugin-host with the packaged example
# settings over the packaged SQL files, under Wine the build's plugin-host.exe
# loading the packaged DLL. Wine runs need WINEPREFIX set per preset as
# scripts/test.sh does (build/<preset>/wineprefix).
#
# usage: check-packages.sh PRESET...   (native, win32, win64)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# shellcheck source=scripts/wine.sh
. scripts/wine.sh

fail() {
    echo "check-packages: $*" >&2
    exit 1
}

# The files every package holds, and those of each platform.
common=(README.md LICENSE docs/settings-dialog.png
    examples/external_preprocessor.ini examples/report.sql examples/common.sql)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for preset in "$@"; do
    echo "== package $preset"
    rm -rf "build/$preset/packages"
    cpack --preset "$preset" >"$work/cpack.log" 2>&1 || {
        cat "$work/cpack.log" >&2
        fail "cpack failed for $preset"
    }
    case $preset in
    native)
        expected=("${common[@]}" external_preprocessor.so plugin-host)
        package=$(echo build/native/packages/ExternalPreprocessor-*-Linux-*.tar.gz)
        ;;
    win32 | win64)
        expected=("${common[@]}" external_preprocessor.dll)
        package=$(echo "build/$preset/packages/ExternalPreprocessor-"*"-$preset.zip")
        ;;
    *) fail "unknown preset $preset" ;;
    esac
    [ -f "$package" ] || fail "no package in build/$preset/packages"
    echo "   $package"

    # The files in the package, without its top folder and without folders.
    unpacked=$work/$preset
    mkdir -p "$unpacked"
    case $package in
    *.tar.gz) tar -xzf "$package" -C "$unpacked" ;;
    *.zip) python3 -m zipfile -e "$package" "$unpacked" ;;
    esac
    top=$(echo "$unpacked"/*)
    [ -d "$top" ] || fail "$package has no single top folder"
    diff <(printf '%s\n' "${expected[@]}" | sort) \
        <(cd "$top" && find . -type f | sed 's|^\./||' | sort) >&2 ||
        fail "$package does not hold exactly the expected files (diff above: < expected, > found)"
    cmp -s "$top/README.md" README.md || fail "README.md in $package differs from the source"

    if [ "$preset" = native ]; then
        # As the README tells a user: the example settings beside the module,
        # and the host run from the unpacked folder.
        cp "$top/examples/external_preprocessor.ini" "$top/"
        info=$("$top/plugin-host" info)
        grep -qx 'Title: External Preprocessor' <<<"$info" || fail "packaged module: info gave: $info"
        out=$(cd "$top" && ./plugin-host run -u scott -d sales_db examples/report.sql) ||
            fail "packaged plugin-host run failed"
        grep -q "FROM sales_db.sales.orders o" <<<"$out" &&
            grep -q "o.owner = 'scott'" <<<"$out" ||
            fail "packaged example gave an unexpected text: $out"
        # A missing include makes the C preprocessor fail: the file is kept
        # byte for byte and the message says why.
        printf '#include "no-such-part.sql"\r\nSELECT 1;\r\n' >"$work/broken.sql"
        cp "$work/broken.sql" "$work/broken.orig"
        status=0
        (cd "$top" && ./plugin-host run --in-place "$work/broken.sql") 2>"$work/broken.err" || status=$?
        [ "$status" -eq 1 ] || fail "a failing preprocessor: exit status $status, not 1"
        cmp -s "$work/broken.sql" "$work/broken.orig" || fail "a failing preprocessor changed the file"
        grep -q "exit code 1" "$work/broken.err" && grep -q "no-such-part.sql" "$work/broken.err" ||
            fail "a failing preprocessor: the message does not say why: $(cat "$work/broken.err")"
    else
        loader=$(wine_loader "$preset")
        export WINEPREFIX=$root/build/$preset/wineprefix
        dll=$(windows_path "$top/external_preprocessor.dll")
        info=$(env -u DISPLAY "$loader" "build/$preset/plugin-host.exe" info --module "$dll" | tr -d '\r')
        grep -qx 'Title: External Preprocessor' <<<"$info" || fail "packaged DLL: info gave: $info"
        grep -qx 'FileVersion: 1, 0, 0, 0' <<<"$info" || fail "packaged DLL has no version record: $info"
        # A copying filter over the packaged SQL file gives it back unchanged.
        child=$(windows_path "$root/build/$preset/run_test.exe")
        printf '[Path]\r\nWorkingDirectory=\r\nCommandLine="%s" --child cat %%f\r\n' "$child" \
            >"$top/external_preprocessor.ini"
        env -u DISPLAY "$loader" "build/$preset/plugin-host.exe" run --module "$dll" \
            "$(windows_path "$top/examples/report.sql")" >"$work/out.sql" ||
            fail "packaged DLL: the run did not replace the text"
        cmp -s "$work/out.sql" "$top/examples/report.sql" ||
            fail "packaged DLL: the copying filter changed the text"
        wineserver -k >/dev/null 2>&1 || true
    fi
    echo "   holds the expected files; the packaged module loads and runs"
done
