#!/bin/bash
# Installs what the build, the tests and the demo need, where it is missing:
# the native tool chain and libraries, mandoc
# for the manual page, mingw-w64 for the Windows modules, Wine (64- and
# 32-bit, with its own fonts for the dialog's picture) and Xvfb to run them,
# tmux for the terminal dialog's tests, vim and Emacs for the editors' tests,
# clang with its sanitizer and fuzzer runtimes for the fuzz targets, and
# clang-format, shellcheck, clang-tidy and cppcheck for the lint stage, and
# a Latin-1 locale (en_US.ISO-8859-1) for the code-page tests. Run
# as root on a Debian machine; does nothing when all is there. Messages go
# to standard error; standard output carries only the environment lines that
# Wine runs need (see enable-wine32.sh).
#
# usage: setup.sh [--native]   (--native: only what the Linux build needs)
set -euo pipefail

packages=(cmake make g++ binutils cpp python3 tmux libgtest-dev libncurses-dev)
# The locales, for a Latin-1 locale beside C.UTF-8 (see below).
packages+=(locales)
# mandoc checks plugin-host's manual page and renders it as HTML for the
# Windows packages.
packages+=(mandoc)
# The editors whose filter commands the tests run plugin-host under; any
# vim or Emacs already installed will do.
command -v vim >/dev/null || packages+=(vim-nox)
command -v emacs >/dev/null || packages+=(emacs-nox)
windows=true
if [ "${1:-}" = --native ]; then
    windows=false
else
    packages+=(
        g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
        wine wine64 wine32:i386 xvfb xauth fonts-wine
        clang libclang-rt-dev clang-tidy clang-format cppcheck shellcheck
    )
fi

# apt_update: the package lists, with a few tries, since a mirror in the
# middle of a sync serves lists of the wrong size for a while.
apt_update() {
    local try
    for try in 1 2 3; do
        apt-get -o Acquire::Retries=3 update -qq >&2 && return 0
        echo "setup: apt-get update failed (try $try of 3)" >&2
        [ "$try" -eq 3 ] || sleep $((try * 10))
    done
    return 1
}

# apt_install [APT-OPTION...]: the missing packages.
apt_install() {
    apt-get "$@" install -y -qq --no-install-recommends "${missing[@]}" >&2
}

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}" >&2
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: these packages are missing and installing them needs root" >&2
        exit 1
    fi
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    if apt_update; then
        apt_install
    elif ! apt_install; then
        # A list that could not be fetched leaves the archives out of step:
        # seen with the security archive's i386 list, after which its amd64
        # versions match no i386 one and the 32-bit packages cannot be
        # installed. The main archive alone is consistent: install from it,
        # with the security archive's versions pinned away.
        echo "setup: installing again with the security archive pinned away" >&2
        preferences=$(mktemp)
        trap 'rm -f "$preferences"' EXIT
        printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: -1\n' >"$preferences"
        apt_install -o "Dir::Etc::Preferences=$preferences"
    fi
fi

# A locale whose character set is not UTF-8, for the tests of what ANSI
# means on Linux (tests/codepage_test.cpp): en_US.ISO-8859-1, generated from
# its line in /etc/locale.gen.
if ! locale -a 2>/dev/null | grep -qx 'en_US.iso88591'; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: the locale en_US.ISO-8859-1 is missing and generating it needs root" >&2
        exit 1
    fi
    echo "setup: generating the locale en_US.ISO-8859-1" >&2
    if grep -qE '^# *en_US ISO-8859-1$' /etc/locale.gen; then
        sed -i -E 's/^# *(en_US ISO-8859-1)$/\1/' /etc/locale.gen
    elif ! grep -qx 'en_US ISO-8859-1' /etc/locale.gen; then
        echo 'en_US ISO-8859-1' >>/etc/locale.gen
    fi
    locale-gen --keep-existing >&2
fi

# 32-bit Windows programs need a 32-bit Wine loader that this machine can run.
if $windows; then
    bash "$(dirname "$0")/enable-wine32.sh"
fi
