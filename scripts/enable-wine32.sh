#!/bin/bash
# enable-wine32.sh - make 32-bit Wine usable on a kernel without IA-32 emulation.
#
# Some kernels are built with 32-bit emulation switched off, so Debian's
# 32-bit Wine loader (/usr/lib/wine/wine, an i386 ELF) fails with
# "Exec format error".  This script (run as root; idempotent):
#   1. does nothing if 32-bit programs already run natively;
#   2. otherwise installs qemu-user, mounts binfmt_misc and registers qemu-i386
#      as the handler for i386 ELF files, so the loader runs under emulation;
#   3. checks that 32-bit Wine really runs a trivial program, and prints the
#      environment that Wine runs need as `export X=Y` lines on stdout
#      (all messages go to stderr).
#
# Usage:  eval "$(bash scripts/enable-wine32.sh)"
#    or:  bash scripts/enable-wine32.sh > /tmp/wine32.env && . /tmp/wine32.env
#
# Why QEMU_RESERVED_VA: qemu-i386 7.2 gives the guest a 4 GiB address space
# and ignores MAP_FIXED_NOREPLACE.  Wine's start-up tries to reserve
# everything above 2 GiB in ever smaller pieces (~65,000 mmap calls), and qemu
# answers each one with a page-by-page scan of the used area: ~55 s of CPU per
# process.  Limiting the guest to 2 GiB + 16 MiB keeps that area tiny and
# brings a process down to ~2 s of CPU.  A 32-bit Windows process only uses
# the low 2 GiB anyway; the 16 MiB above it is what the Unix side gets after
# start-up (smaller values fail: Wine then cannot map its shared user data).
#
# Known limit of qemu-i386 7.2: a 32-bit Windows program that starts a second
# thread crashes (the emulated TLS descriptor is shared by all threads).
#
# Knobs: WINE32_RESERVED_VA (default 0x81000000), WINE32_CHECK_PREFIX (Wine
# prefix used for the check, kept between runs so later runs are quick).
set -euo pipefail

LOADER=/usr/lib/wine/wine
BINFMT=/proc/sys/fs/binfmt_misc
RESERVED_VA=${WINE32_RESERVED_VA:-0x81000000}
CHECK_PREFIX=${WINE32_CHECK_PREFIX:-/tmp/enable-wine32-prefix}

log() { echo "enable-wine32: $*" >&2; }
die() { log "ERROR: $*"; exit 1; }

[ -x "$LOADER" ] && command -v wine >/dev/null ||
    die "32-bit Wine is not installed (apt-get install wine wine32:i386)"

# 1. Native 32-bit support: the loader runs and no emulator handler is active.
if ! grep -qs '^enabled' "$BINFMT/qemu-i386" && "$LOADER" --version >/dev/null 2>&1; then
    log "32-bit programs run natively; nothing to do"
    exit 0
fi

# 2a. The emulator (apt-get update only when the package cannot be found).
if ! [ -x /usr/bin/qemu-i386 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y --no-install-recommends qemu-user >&2 ||
        { apt-get update >&2 && apt-get install -y --no-install-recommends qemu-user >&2; } ||
        die "could not install qemu-user"
fi

# 2b. binfmt_misc, and the i386 ELF handler.  Magic/mask match any i386
# executable or shared object; flags: O and C hand qemu the opened binary and
# its credentials (unreadable or setuid files), F opens qemu once at
# registration so the handler also works inside containers and chroots.
[ -e "$BINFMT/register" ] || mount -t binfmt_misc binfmt_misc "$BINFMT" ||
    die "cannot mount binfmt_misc"
registered_now=false
if ! [ -e "$BINFMT/qemu-i386" ]; then
    registered_now=true
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:OCF' \
        > "$BINFMT/register" 2>/dev/null || [ -e "$BINFMT/qemu-i386" ] ||
        die "cannot register the qemu-i386 binfmt handler"
    log "registered qemu-i386 for i386 ELF programs"
fi
grep -qs '^enabled' "$BINFMT/qemu-i386" || echo 1 > "$BINFMT/qemu-i386"

# 3. Check: the loader starts, then a real 32-bit Windows program runs.
export QEMU_RESERVED_VA=$RESERVED_VA
"$LOADER" --version >/dev/null 2>&1 || die "the 32-bit Wine loader still cannot run under qemu-i386"
# The full check costs a minute or more; it runs when the handler is new
# (or when WINE32_CHECK=1), not on every later call.
if ! $registered_now && [ "${WINE32_CHECK:-0}" != 1 ]; then
    echo "export QEMU_RESERVED_VA=$RESERVED_VA"
    exit 0
fi
[ -d "$CHECK_PREFIX" ] || log "creating check prefix $CHECK_PREFIX (takes a minute or two)"
out=$(WINEARCH=win32 WINEPREFIX="$CHECK_PREFIX" WINEDEBUG=-all timeout 900 \
      wine cmd.exe /c echo wine32-ok 2>/dev/null </dev/null) || true
WINEPREFIX="$CHECK_PREFIX" wineserver -k >/dev/null 2>&1 || true
case $out in
    *wine32-ok*) log "32-bit Wine runs under qemu-i386" ;;
    *) die "32-bit Wine cannot run a trivial program (prefix $CHECK_PREFIX)" ;;
esac

echo "export QEMU_RESERVED_VA=$RESERVED_VA"
