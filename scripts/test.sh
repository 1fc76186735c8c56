#!/bin/bash
# The test command: installs what is missing, then builds and tests each
# preset through its workflow preset (CMakePresets.json): the native suite,
# the linters, the native suite again under the sanitizers, each fuzz target
# for a bounded time, the Windows suites under Wine inside Xvfb (each preset
# with its own Wine prefix in its build folder), the same record from every
# module, and the package checks.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# Each stage says when it begins, in minutes and seconds since the start.
stage() {
    printf '== %s (at %d:%02d)\n' "$*" $((SECONDS / 60)) $((SECONDS % 60))
}

mkdir -p build
bash scripts/setup.sh >build/wine.env
# shellcheck disable=SC1091
. build/wine.env
export WINEDEBUG=-all

# Each preset's workflow (CMakePresets.json) configures, builds and tests
# it; the builds use every core.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}

stage "native: build and test"
cmake --workflow --preset native

stage "lint: clang-tidy and cppcheck"
bash scripts/lint.sh

stage "native under AddressSanitizer and UndefinedBehaviorSanitizer: build and test"
cmake --workflow --preset asan

stage "fuzz each target for a bounded time"
bash scripts/fuzz.sh 20

# shellcheck source=scripts/wine.sh
. scripts/wine.sh

for preset in win64 win32; do
    stage "$preset: build, and test under Wine in Xvfb"
    export WINEPREFIX=$root/build/$preset/wineprefix
    loader=$(wine_loader "$preset")
    # Make the prefix before the first test: its creation takes minutes.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "   creating the Wine prefix $WINEPREFIX"
        "$loader" wineboot -i >/dev/null 2>&1 || true
        # wineboot leaves its server running, with a desktop made without a
        # display: tests started meanwhile would get no message boxes. Wait
        # for that server to end by itself (a few seconds).
        wineserver -w >/dev/null 2>&1 || true
    fi
    # Where 32-bit Windows programs run under qemu-i386 (see
    # enable-wine32.sh), the emulator now and then crashes a process that
    # starts a thread: there a failed 32-bit test gets one more try.
    workflow=$preset
    if [ "$preset" = win32 ] && wine32_emulated; then
        workflow=win32-emulated
    fi
    # The whole workflow runs inside one Wine session and one display.
    # shellcheck disable=SC2016
    xvfb-run -a bash -c '. scripts/wine.sh && in_wine_session "$@"' - "$(wine_loader win64)" \
        cmake --workflow --preset "$workflow"
done

# Every module reports the same title, kind and version record, and the same
# settings (none in a build folder); only the settings file's path differs.
stage "same record from every module"
native=$(build/native/plugin-host info | grep -v '^Settings file: ')
for preset in win64 win32; do
    export WINEPREFIX=$root/build/$preset/wineprefix
    other=$(env -u DISPLAY "$(wine_loader "$preset")" "build/$preset/plugin-host.exe" info |
        tr -d '\r' | grep -v '^Settings file: ')
    wineserver -k >/dev/null 2>&1 || true
    if [ "$other" != "$native" ]; then
        echo "plugin-host info differs between native and $preset:" >&2
        diff <(echo "$native") <(echo "$other") >&2 || true
        exit 1
    fi
done
echo "$native"

# The packages hold what they should, and their modules load and run.
bash scripts/check-packages.sh native win64 win32

stage "all tests passed"
