#!/bin/bash
# Makes the package of each built preset with CPack and checks it: it holds
# exactly the files it should, its README is the package's own, every
# relative link of the README and of docs/*.md resolves inside it (as it does
# in the source tree, checked first), and the packaged plugin-host runs the
# packaged example with the settings file beside the packaged module, as the
# package's README tells a user: natively, and under Wine for the ZIPs. Wine
# runs need WINEPREFIX set per preset as scripts/test.sh does
# (build/<preset>/wineprefix).
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

# check_links DIR: the links of DIR's README and docs resolve inside DIR.
check_links() {
    python3 "$root/scripts/check_links.py" "$1"
}

echo "== links of the source tree's README and docs"
check_links "$root" || fail "the source tree has broken links (above)"

# The files every package holds, and those of each platform.
docs=(docs/plugin-host.1.html)
for page in docs/*.md docs/*.png; do
    docs+=("$page")
done
common=(README.md LICENSE "${docs[@]}" examples/external_preprocessor.ini examples/report.sql
    examples/common.sql)

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
        expected=("${common[@]}" bin/plugin-host lib/external-preprocessor/external_preprocessor.so
            share/man/man1/plugin-host.1)
        readme=cmake/package-readme-linux.md
        package=$(echo build/native/packages/ExternalPreprocessor-*-Linux-*.tar.gz)
        ;;
    win32 | win64)
        expected=("${common[@]}" external_preprocessor.dll plugin-host.exe)
        readme=cmake/package-readme-windows.md
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
    cmp -s "$top/README.md" "$readme" || fail "README.md in $package is not $readme"
    check_links "$top" || fail "$package has broken links (above)"
    grep -q '<html' "$top/docs/plugin-host.1.html" && grep -q 'password-file' "$top/docs/plugin-host.1.html" ||
        fail "$package: docs/plugin-host.1.html is not the manual page as HTML"

    # The failing example of every package: a missing include makes the C
    # preprocessor fail, so the file is kept byte for byte and the message
    # says why.
    printf '#include "no-such-part.sql"\r\nSELECT 1;\r\n' >"$work/broken.sql"
    cp "$work/broken.sql" "$work/broken.orig"
    if [ "$preset" = native ]; then
        # As the package's README tells a user: the example settings beside
        # the module, and bin/plugin-host run from the unpacked folder.
        cp "$top/examples/external_preprocessor.ini" "$top/lib/external-preprocessor/"
        info=$("$top/bin/plugin-host" info)
        grep -qx 'Title: External Preprocessor' <<<"$info" || fail "packaged module: info gave: $info"
        grep -qxF "Settings file: $top/lib/external-preprocessor/external_preprocessor.ini" <<<"$info" ||
            fail "packaged plugin-host: info names another settings file: $info"
        out=$(cd "$top" && bin/plugin-host run -u scott -d sales_db examples/report.sql) ||
            fail "packaged plugin-host run failed"
        grep -q "FROM sales_db.sales.orders o" <<<"$out" &&
            grep -q "o.owner = 'scott'" <<<"$out" ||
            fail "packaged example gave an unexpected text: $out"
        status=0
        (cd "$top" && bin/plugin-host run --in-place "$work/broken.sql") 2>"$work/broken.err" || status=$?
        [ "$status" -eq 1 ] || fail "a failing preprocessor: exit status $status, not 1"
        cmp -s "$work/broken.sql" "$work/broken.orig" || fail "a failing preprocessor changed the file"
        grep -q "exit code 1" "$work/broken.err" && grep -q "no-such-part.sql" "$work/broken.err" ||
            fail "a failing preprocessor: the message does not say why: $(cat "$work/broken.err")"
        man -l "$top/share/man/man1/plugin-host.1" >/dev/null 2>&1 ||
            fail "the packaged manual page does not render"
    else
        # The packaged plugin-host.exe with the DLL beside it, as the
        # package's README tells a user, without a display.
        loader=$(wine_loader "$preset")
        export WINEPREFIX=$root/build/$preset/wineprefix
        packaged_host() { (cd "$top" && env -u DISPLAY "$loader" ./plugin-host.exe "$@"); }
        cp "$top/examples/external_preprocessor.ini" "$top/"
        info=$(packaged_host info | tr -d '\r')
        grep -qx 'Title: External Preprocessor' <<<"$info" || fail "packaged DLL: info gave: $info"
        grep -qx 'FileVersion: 1, 0, 0, 0' <<<"$info" || fail "packaged DLL has no version record: $info"
        grep -q '^CommandLine: cpp.exe ' <<<"$info" || fail "packaged settings not in use: $info"
        # Its example calls cpp.exe, which Wine here does not have: the run
        # keeps the text and its box is a line on standard error.
        status=0
        packaged_host run -u scott -d sales_db 'examples\report.sql' >"$work/out.sql" 2>"$work/err" || status=$?
        [ "$status" -eq 1 ] || fail "packaged example without cpp.exe: exit status $status, not 1"
        cmp -s "$work/out.sql" "$top/examples/report.sql" ||
            fail "packaged example without cpp.exe: the text was not given back unchanged"
        grep -q '^Execute Error!: .*cpp\.exe' "$work/err" ||
            fail "packaged example without cpp.exe: no box line: $(cat "$work/err")"
        # A copying filter over the packaged SQL file gives it back unchanged.
        child=$(windows_path "$root/build/$preset/run_test.exe")
        printf '[Path]\r\nWorkingDirectory=\r\nCommandLine="%s" --child cat %%f\r\n' "$child" \
            >"$top/external_preprocessor.ini"
        packaged_host run 'examples\report.sql' >"$work/out.sql" ||
            fail "packaged plugin-host.exe: the run did not replace the text"
        cmp -s "$work/out.sql" "$top/examples/report.sql" ||
            fail "packaged plugin-host.exe: the copying filter changed the text"
        # A failing filter: the file in place is kept and the box says why.
        printf '[Path]\r\nWorkingDirectory=\r\nCommandLine="%s" --child stderr-exit 1 no-such-part.sql\r\n' \
            "$child" >"$top/external_preprocessor.ini"
        status=0
        packaged_host run --in-place "$(windows_path "$work/broken.sql")" 2>"$work/broken.err" || status=$?
        [ "$status" -eq 1 ] || fail "a failing filter: exit status $status, not 1"
        cmp -s "$work/broken.sql" "$work/broken.orig" || fail "a failing filter changed the file"
        grep -q "exit code 1" "$work/broken.err" && grep -q "no-such-part.sql" "$work/broken.err" ||
            fail "a failing filter: the message does not say why: $(cat "$work/broken.err")"
        wineserver -k >/dev/null 2>&1 || true
    fi
    echo "   holds the expected files; its links resolve; the packaged plugin-host runs"
done
