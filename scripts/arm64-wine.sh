#!/bin/bash
# Runs Windows ARM64 programs under the emulated platform made by
# scripts/arm64-setup.sh (Debian arm64 root, qemu-aarch64, arm64 Wine).
#
#   arm64-wine.sh PROGRAM [ARG...]
#       Runs one PE program given by its host path, with the caller's working
#       directory, and exits with its exit code. The folders holding the
#       program and the working directory are bound into the root at the same
#       paths. Fit for CMAKE_CROSSCOMPILING_EMULATOR.
#   arm64-wine.sh [--bind DIR]... session COMMAND [ARG...]
#       Runs a host COMMAND (ctest, a script) while the root stays mounted and
#       one wineserver stays up, so that every PROGRAM run inside it starts
#       quickly. Mounts and the wineserver are gone when it returns.
#
# A run outside a session opens its own session. Environment variables named
# GTEST_* and those listed in PTSA_ARM64_PASS_ENV reach the program; a
# caller's WINEDEBUG (for instance +debugstr) replaces the quiet -all.
# Exit codes: the program's or COMMAND's; 77 when this machine cannot host the
# platform; 125 when the platform is not set up or a folder cannot be bound.
set -euo pipefail
SELF=$(readlink -f "$0")
. "$(dirname "$SELF")/arm64-common.sh"

fail() { arm64_say "$*"; exit 125; }
in_session() { [ -n "${PTSA_ARM64_SESSION:-}" ] && [ -f "$PTSA_ARM64_SESSION/binds" ]; }

# A host folder may be bound into the root unless that would hide the root's
# own system folders or reach into the root itself.
bindable() {
    local dir=$1
    case "$dir" in
        / | /proc | /proc/* | /sys | /sys/* | /dev | /dev/*) return 1 ;;
        "$ARM64_ROOT" | "$ARM64_ROOT"/*) return 1 ;;
    esac
    [[ $dir == /*/* ]] || [ ! -e "$ARM64_ROOT$dir" ] || return 1   # a top-level folder of the root
    [[ $ARM64_ROOT/ != "$dir"/* ]]                                  # a parent of the root
}

# Makes a host folder visible at the same path inside the root, once per
# session; parallel runs (ctest -j) take turns through a lock.
make_visible() {
    local dir=$1 binds=$PTSA_ARM64_SESSION/binds bound fd
    bindable "$dir" || fail "will not bind $dir into the root"
    exec {fd}>>"$binds"
    flock "$fd"
    while IFS= read -r bound; do
        if [ "$dir" = "$bound" ] || [[ $dir == "$bound"/* ]]; then exec {fd}>&-; return; fi
    done < "$binds"
    mkdir -p "$ARM64_ROOT$dir"
    mount --bind "$dir" "$ARM64_ROOT$dir" || fail "cannot bind $dir into the root"
    echo "$dir" >> "$binds"
    exec {fd}>&-
}

run_program() {
    local program dir workdir
    program=$(readlink -f "$1") && [ -f "$program" ] || fail "no such program: $1"
    shift
    dir=$(dirname "$program")
    if [[ $program == "$ARM64_ROOT"/* ]]; then   # already inside the root (cmd.exe of the prefix)
        program=${program#"$ARM64_ROOT"}
        dir=$(dirname "$program")
    else
        make_visible "$dir"
    fi
    workdir=$PWD
    if bindable "$workdir"; then make_visible "$workdir"; else workdir=$dir; fi

    local vars=() name
    for name in $(compgen -e); do
        if [[ $name == GTEST_* ]] || [[ " ${PTSA_ARM64_PASS_ENV:-} " == *" $name "* ]]; then
            vars+=("$name=${!name}")
        fi
    done
    [ -z "${WINEDEBUG:-}" ] || vars+=("WINEDEBUG=$WINEDEBUG")

    local rc=0
    arm64_chroot "${vars[@]}" /bin/sh -c 'cd "$1" || exit 125; shift; exec "$@"' sh \
        "$workdir" "$ARM64_WINE" "$program" "$@" || rc=$?
    exit "$rc"
}

session_cleanup() {
    set +e          # every step of the clean-up runs, whatever failed before
    if [ -n "${ARM64_CHILD:-}" ] && kill -0 "$ARM64_CHILD" 2>/dev/null; then
        kill -TERM "$ARM64_CHILD" 2>/dev/null || true
        wait "$ARM64_CHILD" 2>/dev/null || true
    fi
    arm64_chroot "$ARM64_WINESERVER" -k >/dev/null 2>&1 || true
    arm64_chroot "$ARM64_WINESERVER" -w >/dev/null 2>&1 || true
    arm64_stop_processes
    arm64_unmount_all
    rm -rf "$PTSA_ARM64_SESSION"
}

run_session() {
    local binds=("$@") dir
    shift "$#"
    arm64_ready || fail "the emulated platform is not set up: run scripts/arm64-setup.sh"
    arm64_ensure_host
    arm64_lock
    PTSA_ARM64_SESSION=$(mktemp -d /tmp/ptsa-arm64-session.XXXXXX)
    : > "$PTSA_ARM64_SESSION/binds"
    export PTSA_ARM64_SESSION
    trap session_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    arm64_stop_processes                               # left over from a killed session
    arm64_unmount_all
    arm64_mount_system || fail "cannot mount /proc, /sys and /dev in the root"
    for dir in "${binds[@]}"; do make_visible "$(readlink -f "$dir")"; done
    arm64_chroot "$ARM64_WINESERVER" -p || fail "cannot start the wineserver"
    # The first program of a wineserver starts Wine's own services, which
    # stay and keep that program's output open: ctest would wait for them
    # until its timeout. Start them here, with no output to hold.
    arm64_chroot "$ARM64_WINE" cmd /c exit 0 </dev/null >/dev/null 2>&1 || fail "Wine does not start in the root"
}

main() {
    local binds=()
    while [ "${1:-}" = --bind ]; do
        [ $# -ge 2 ] || fail "--bind needs a folder"
        binds+=("$2"); shift 2
    done
    if [ "${1:-}" = session ]; then
        shift
        [ $# -gt 0 ] || fail "session needs a command"
        if in_session; then                            # already inside one
            for dir in "${binds[@]}"; do make_visible "$(readlink -f "$dir")"; done
            exec "$@"
        fi
        run_session "${binds[@]}"
        "$@" <&0 &
        ARM64_CHILD=$!
        local rc=0
        wait "$ARM64_CHILD" || rc=$?
        exit "$rc"
    fi
    [ $# -gt 0 ] || { sed -n '2,19s/^# \{0,1\}//p' "$SELF" >&2; exit 125; }
    if ! in_session; then
        exec "$SELF" session "$SELF" "$@"
    fi
    run_program "$@"
}

main "$@"
