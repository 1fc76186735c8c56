# shellcheck shell=bash
# What the shell test scripts share; each sources it and keeps its own cases.
#
#   check NAME STATUS      one case: passed when STATUS is 0 (one line each)
#   status_is WANT GOT     prints 0 when the exit status GOT is WANT, else 1
#   finish                 the counts; exits nonzero when a case failed or
#                          when none ran
#   work_folder            $work, a private folder removed on exit
#   on_exit COMMAND        runs COMMAND on exit, before $work is removed
#   small_disk DIR SIZE    a tmpfs of SIZE mounted on DIR (needs root),
#                          unmounted on exit
#   private_host BUILD DIR [FILE...]
#                          copies of the module and plugin-host built in
#                          BUILD (and of the FILEs) in DIR; sets host,
#                          settings_file and, with a FILE, child_path
#   write_settings COMMAND [WORKING_DIRECTORY]
#                          the settings file beside the copied module
#   no_temporary_files NAME DIR
#                          the case "NAME: no temporary file left" in DIR

passes=0
failures=0

check() { # check NAME STATUS
    if [ "$2" -eq 0 ] 2>/dev/null; then
        passes=$((passes + 1))
        echo "ok: $1"
    else
        failures=$((failures + 1))
        echo "FAIL: $1"
    fi
}

status_is() { # status_is EXPECTED ACTUAL
    [ "$2" -eq "$1" ]
    echo $?
}

finish() {
    echo "$passes passed, $failures failed"
    if [ "$passes" -eq 0 ] && [ "$failures" -eq 0 ]; then
        echo "FAIL: no case ran"
        exit 1
    fi
    [ "$failures" -eq 0 ]
    exit
}

exit_actions=()
mounted=()

work_folder() {
    work=$(mktemp -d)
    trap leave EXIT
}

on_exit() { # on_exit COMMAND
    exit_actions+=("$1")
}

# Runs on exit: the actions asked for, the disks unmounted (lazily, so a
# process still inside cannot keep them), then the folder removed. Errors
# here change nothing of the script's status.
leave() {
    local action disk
    for action in "${exit_actions[@]}"; do
        eval "$action" || true
    done
    for disk in "${mounted[@]}"; do
        umount -l "$disk" 2>/dev/null || true
    done
    rm -rf "${work:-}"
}

small_disk() { # small_disk DIR SIZE
    mkdir -p "$1"
    mount -t tmpfs -o "size=$2" tmpfs "$1" || return 1
    mounted+=("$1")
}

# The names of the built module and host; a script for Windows sets its own.
module_name=external_preprocessor.so
host_name=plugin-host

# shellcheck disable=SC2034 # host, settings_file, child_path: the script's
private_host() { # private_host BUILD DIR [FILE...]
    local build=$1 folder=$2
    shift 2
    mkdir -p "$folder"
    cp "$build/$module_name" "$build/$host_name" "$@" "$folder/"
    host=$folder/$host_name
    settings_file=$folder/external_preprocessor.ini
    if [ $# -gt 0 ]; then
        child_path=$folder/$(basename "$1")
    fi
}

# The line end of the settings files written (a printf format).
settings_eol='\n'

write_settings() { # write_settings COMMAND [WORKING_DIRECTORY]
    # shellcheck disable=SC2059 # the format holds the line end
    printf "[Path]${settings_eol}WorkingDirectory=%s${settings_eol}CommandLine=%s${settings_eol}" \
        "${2:-}" "$1" >"$settings_file"
}

no_temporary_files() { # no_temporary_files NAME DIR
    [ -z "$(ls -A "$2")" ]
    check "$1: no temporary file left" $?
}
