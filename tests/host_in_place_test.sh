#!/bin/bash
# plugin-host run --in-place on files that are more than a name for some
# bytes, on Linux, with real files: a symbolic link keeps pointing at its
# target, which gets the new text; a file with several hard links keeps
# them; mode, owner and group are kept, run as root and run as another user
# who may write the file but not give a copy its owner; a FIFO, a device and
# a directory are refused and left alone; on a full disk the file keeps its
# text. After each, no copy is left beside the file.
#
# usage: host_in_place_test.sh BUILD_DIR CHILD_PROGRAM
set -uo pipefail
build=$1
child=$2

# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"

work_folder
# Everything is readable by the other user; the runs' temporary files go to
# a directory anyone may write.
chmod 755 "$work"
mkdir -m 755 "$work/bin" "$work/files" "$work/other"
mkdir -m 1777 "$work/runs"
private_host "$build" "$work/bin" "$child"
write_settings "\"$child_path\" --child echo-args replaced" "$work/runs"
new_text='8:replaced'

# The files in a directory other than the ones named.
strays() { # strays DIR NAME...
    local dir=$1
    shift
    local names=" $* "
    for entry in "$dir"/* "$dir"/.[!.]*; do
        [ -e "$entry" ] || [ -L "$entry" ] || continue
        [[ $names == *" $(basename "$entry") "* ]] || echo "$entry"
    done
}
no_strays() { # no_strays NAME DIR KEPT...
    local name=$1
    shift
    local left
    left=$(strays "$@")
    [ -z "$left" ]; check "$name: nothing left beside the file ($left)" $?
    no_temporary_files "$name" "$work/runs"
}

# --- A symbolic link: its target gets the text, the link stays ---------------
printf 'old\n' >"$work/other/target.sql"
ln -s ../other/target.sql "$work/files/link.sql"
"$host" run --in-place "$work/files/link.sql"
check "symlink: exit 0" $?
[ -L "$work/files/link.sql" ]; check "symlink: still a link" $?
[ "$(readlink "$work/files/link.sql")" = ../other/target.sql ]; check "symlink: same target" $?
[ "$(cat "$work/other/target.sql")" = "$new_text" ]; check "symlink: the target has the new text" $?
no_strays "symlink (link's directory)" "$work/files" link.sql
no_strays "symlink (target's directory)" "$work/other" target.sql
rm -f "$work/files/link.sql"

# A dangling link is an error, and is left alone.
ln -s missing.sql "$work/files/dangling.sql"
"$host" run --in-place "$work/files/dangling.sql" 2>"$work/err"
check "dangling symlink: exit 2" "$(status_is 2 $?)"
[ -L "$work/files/dangling.sql" ] && [ ! -e "$work/files/missing.sql" ]
check "dangling symlink: left alone" $?
rm -f "$work/files/dangling.sql"

# --- Hard links: every name sees the new text, the inode stays -----------------
printf 'old\n' >"$work/files/first.sql"
ln "$work/files/first.sql" "$work/other/second.sql"
inode=$(stat -c %i "$work/files/first.sql")
"$host" run --in-place "$work/files/first.sql"
check "hard links: exit 0" $?
[ "$(stat -c %i:%h "$work/files/first.sql")" = "$inode:2" ]; check "hard links: same inode, two names" $?
[ "$(cat "$work/other/second.sql")" = "$new_text" ]; check "hard links: the other name has the new text" $?
no_strays "hard links" "$work/files" first.sql
rm -f "$work/files/first.sql" "$work/other/second.sql"

# --- Mode, owner and group, run as root ------------------------------------------
for mode in 640 4755 2711; do
    printf 'old\n' >"$work/files/owned.sql"
    chown 65534:65534 "$work/files/owned.sql"
    chmod "$mode" "$work/files/owned.sql"
    "$host" run --in-place "$work/files/owned.sql"
    check "root, mode $mode: exit 0" $?
    kept=$(stat -c %u:%g:%a "$work/files/owned.sql")
    [ "$kept" = "65534:65534:$mode" ]; check "root, mode $mode: owner, group and mode kept ($kept)" $?
    [ "$(cat "$work/files/owned.sql")" = "$new_text" ]; check "root, mode $mode: the new text" $?
    no_strays "root, mode $mode" "$work/files" owned.sql
done
rm -f "$work/files/owned.sql"

# --- Another user, who may write the file but not give it away -------------------
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
# In a directory anyone may write, with the sticky bit (as /tmp): the copy
# cannot get root as its owner, so the file is rewritten where it is.
mkdir -m 1777 "$work/shared"
printf 'old\n' >"$work/shared/roots.sql"
chmod 666 "$work/shared/roots.sql"
as_nobody "$host" run --in-place "$work/shared/roots.sql"
check "another user, sticky directory: exit 0" $?
[ "$(stat -c %u:%g:%a "$work/shared/roots.sql")" = "0:0:666" ]
check "another user, sticky directory: owner kept" $?
[ "$(cat "$work/shared/roots.sql")" = "$new_text" ]; check "another user, sticky directory: the new text" $?
no_strays "another user, sticky directory" "$work/shared" roots.sql
# In a directory the user may not write: no copy can be made beside it.
printf 'old\n' >"$work/files/roots.sql"
chmod 666 "$work/files/roots.sql"
as_nobody "$host" run --in-place "$work/files/roots.sql"
check "another user, closed directory: exit 0" $?
[ "$(stat -c %u:%a "$work/files/roots.sql")" = "0:666" ]; check "another user, closed directory: owner kept" $?
[ "$(cat "$work/files/roots.sql")" = "$new_text" ]; check "another user, closed directory: the new text" $?
# A file the user may not write: refused, kept.
printf 'old\n' >"$work/files/locked.sql"
chmod 644 "$work/files/locked.sql"
as_nobody "$host" run --in-place "$work/files/locked.sql" 2>"$work/err"
check "another user, read-only file: exit 1" "$(status_is 1 $?)"
[ "$(cat "$work/files/locked.sql")" = old ]; check "another user, read-only file: kept" $?
grep -q "left as it was" "$work/err"; check "another user, read-only file: says so" $?
no_strays "another user" "$work/files" roots.sql locked.sql
rm -f "$work/files/roots.sql" "$work/files/locked.sql"

# --- Not a regular file: refused and left alone ------------------------------------
mkfifo "$work/files/fifo"
timeout 20 "$host" run --in-place "$work/files/fifo" 2>"$work/err"
check "FIFO: exit 2 at once, without waiting for a writer" "$(status_is 2 $?)"
grep -q "is a FIFO" "$work/err"; check "FIFO: says so" $?
[ -p "$work/files/fifo" ]; check "FIFO: still a FIFO" $?
rm -f "$work/files/fifo"
"$host" run --in-place /dev/null 2>"$work/err"
check "device: exit 2" "$(status_is 2 $?)"
grep -q "is a character device" "$work/err"; check "device: says so" $?
[ -c /dev/null ]; check "device: still a device" $?
mkdir "$work/files/dir.sql"
"$host" run --in-place "$work/files/dir.sql" 2>"$work/err"
check "directory: exit 2" "$(status_is 2 $?)"
grep -q "is a directory" "$work/err"; check "directory: says so" $?
[ -d "$work/files/dir.sql" ] && [ -z "$(ls -A "$work/files/dir.sql")" ]; check "directory: left alone" $?
rmdir "$work/files/dir.sql"
no_strays "not regular files" "$work/files"

# --- A full disk: the file keeps its text ---------------------------------------------
disk=$work/disk
if small_disk "$disk" 256k; then
    printf 'old\n' >"$disk/full.sql"
    ln "$disk/full.sql" "$disk/linked.sql"
    printf 'old\n' >"$disk/single.sql"
    head -c "$(df -B1 --output=avail "$disk" | tail -1)" /dev/zero >"$disk/filler" 2>/dev/null
    # The new text needs more room than the old one held.
    write_settings "\"$child_path\" --child write 20000" "$work/runs"
    "$host" run --in-place "$disk/single.sql" 2>"$work/err"
    check "full disk: exit 1" "$(status_is 1 $?)"
    [ "$(cat "$disk/single.sql")" = old ]; check "full disk: the file keeps its text" $?
    grep -q "left as it was" "$work/err"; check "full disk: says so" $?
    "$host" run --in-place "$disk/full.sql" 2>"$work/err"
    check "full disk, hard links: exit 1" "$(status_is 1 $?)"
    [ "$(cat "$disk/linked.sql")" = old ]; check "full disk, hard links: the file keeps its text" $?
    no_strays "full disk" "$disk" full.sql linked.sql single.sql filler
else
    check "mounting a small tmpfs (needs root)" 1
fi

finish
