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
