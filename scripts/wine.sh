# shellcheck shell=bash
# Sourced by the scripts that run the Windows builds under Wine.

# wine_loader PRESET: the Wine loader for a Windows preset; the 64-bit one
# directly, since the "wine" script would first start the 32-bit loader.
wine_loader() {
    case $1 in
    win64) echo /usr/lib/wine/wine64 ;;
    *) echo wine ;;
    esac
}

# windows_path PATH: an absolute Unix path as Windows programs under Wine see
# it (drive Z: is the Unix root).
windows_path() {
    local path=${1//\//\\}
    printf 'Z:%s' "$path"
}

# private_prefix DIR: a Wine prefix of the caller's own at DIR, made from
# $WINEPREFIX (or ~/.wine), and exported as WINEPREFIX: a session there (its
# own Wine server) can be started and ended without touching the given
# prefix's. The prefix's files are hard links (Wine replaces no file of
# drive_c in place); the registry files, which the server rewrites, are
# copies.
private_prefix() {
    local given=${WINEPREFIX:-$HOME/.wine}
    cp -al "$given" "$1" && cp --remove-destination "$given"/*.reg "$1"/ &&
        export WINEPREFIX=$1
}

# wine32_emulated: true where the 32-bit Wine loader runs under qemu-i386
# (kernels without 32-bit support, see enable-wine32.sh).
wine32_emulated() {
    grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386
}

# in_wine_session LOADER COMMAND [ARG...]: runs COMMAND (its exit status is
# the function's) with a Wine session held open from before it starts until
# it ends, by a program that waits on a pipe. Tests that run side by side
# then join that session; without it the test that happened to start the
# session would hand its output to the session's system processes, and seem
# to run until the last of the others ended.
in_wine_session() {
    local loader=$1 fifo pipe status=0
    shift
    fifo=$(mktemp -u) && mkfifo "$fifo" || return 1
    "$loader" cmd <"$fifo" >/dev/null 2>&1 &
    exec {pipe}>"$fifo"
    rm -f "$fifo"
    # The session is up, its desktop with it, before COMMAND starts.
    "$loader" cmd /c exit </dev/null >/dev/null 2>&1
    "$@" || status=$?
    exec {pipe}>&-
    wineserver -k >/dev/null 2>&1 || true
    wait
    return "$status"
}
