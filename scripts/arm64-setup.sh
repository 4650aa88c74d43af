#!/bin/bash
# Prepares the emulated Windows-on-ARM64 platform on Debian 12 (as root):
# host packages, the qemu-aarch64 binfmt handler, a Debian arm64 root with
# Wine in it, and a Wine prefix. Each finished step is remembered, so a second
# run only checks and returns. Prints the time of each step it ran.
# --check runs the short program again even when everything is there.
# Exit codes: 0 ready, 77 this machine cannot host it (see message), else failure.
set -euo pipefail
. "$(dirname "$(readlink -f "$0")")/arm64-common.sh"

step_start=
begin() { step_start=$(arm64_now); arm64_say "$1 ..."; }
done_step() { arm64_say "$1 took $(arm64_since "$step_start") s"; mkdir -p "$ARM64_STATE"; touch "$ARM64_STATE/$1"; }
have_step() { [ -e "$ARM64_STATE/$1" ]; }

# The Debian mirror this host already uses for the suite (deb822 .sources or
# one-line .list entries), so that no mirror is written down here.
host_mirror() {
    local files=() f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && files+=("$f")
    done
    [ ${#files[@]} -gt 0 ] || return 0
    awk -v suite="$ARM64_SUITE" '
        function flush() {
            if (!found && types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " suite " ") && enabled != "no" && uris != "") {
                split(uris, u, " "); print u[1]; found = 1; exit
            }
            types = uris = suites = enabled = ""
        }
        FNR == 1 && prev ~ /\.sources$/ { flush() }
        { prev = FILENAME }
        FILENAME ~ /\.sources$/ {
            if ($0 ~ /^[ \t]*$/) { flush(); next }
            if ($0 ~ /^#/) next
            key = tolower($1); sub(/^[^:]*:[ \t]*/, "")
            if (key == "types:") types = $0
            else if (key == "uris:") uris = $0
            else if (key == "suites:") suites = $0
            else if (key == "enabled:") enabled = tolower($0)
            next
        }
        $1 == "deb" {
            i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
            if ($(i + 1) == suite) { print $i; found = 1; exit }
        }
        END { if (prev ~ /\.sources$/) flush() }
    ' "${files[@]}" | head -n 1
}

setup_host_packages() {
    local missing=() p
    for p in qemu-user-static binfmt-support debootstrap; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    begin "host packages (${missing[*]})"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    arm64_say "host packages took $(arm64_since "$step_start") s"
}

# A half-made root (an interrupted debootstrap) is removed, but only once
# nothing is mounted inside it: a bound /dev must never be deleted through it.
remove_partial_root() {
    arm64_unmount_all
    [ -z "$(arm64_mounts_under_root)" ] || { arm64_say "mounts remain under $ARM64_ROOT; not removing it"; exit 1; }
    rm -rf --one-file-system "$ARM64_ROOT"
}

setup_root() {
    have_step debootstrap && return
    local mirror
    mirror=$(host_mirror)
    [ -n "$mirror" ] || { arm64_say "no Debian '$ARM64_SUITE' entry found in this host's apt sources"; exit 1; }
    [ -e "$ARM64_ROOT" ] && remove_partial_root
    begin debootstrap
    mkdir -p "$ARM64_ROOT"
    local log=$ARM64_ROOT.debootstrap.log
    if ! debootstrap --arch=arm64 --variant=minbase "$ARM64_SUITE" "$ARM64_ROOT" "$mirror" >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        arm64_say "debootstrap failed (log: $log)"
        exit 1
    fi
    done_step debootstrap
}

# Runs the rest of the steps with /proc, /sys and /dev mounted in the root,
# always unmounted again, and no wineserver left behind.
with_system_mounts() {
    trap 'set +e; arm64_chroot "$ARM64_WINESERVER" -k >/dev/null 2>&1; arm64_stop_processes; arm64_unmount_all' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    arm64_stop_processes            # left over from a run that was killed
    arm64_unmount_all
    arm64_mount_system
    "$@"
    arm64_chroot "$ARM64_WINESERVER" -k >/dev/null 2>&1 || true
    arm64_stop_processes
    arm64_unmount_all
    trap - EXIT INT TERM
}

setup_wine() {
    have_step wine && return
    begin "wine install"
    local log=$ARM64_ROOT.wine-install.log
    if ! { arm64_chroot DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
           arm64_chroot DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wine wine64; } \
           </dev/null >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        arm64_say "installing Wine in the root failed (log: $log)"
        exit 1
    fi
    arm64_chroot apt-get clean
    done_step wine
}

setup_prefix() {
    have_step prefix && return
    begin "wine prefix"
    arm64_chroot rm -rf "$ARM64_PREFIX"
    arm64_chroot "$ARM64_WINE" wineboot --init </dev/null >/dev/null 2>&1
    arm64_chroot "$ARM64_WINESERVER" -w
    done_step prefix
}

# A short program run proves the whole route and that exit codes pass through.
check_run() {
    begin "short program run (cmd /c exit 42)"
    local rc=0
    arm64_chroot "$ARM64_WINE" cmd /c exit 42 </dev/null || rc=$?
    arm64_chroot "$ARM64_WINESERVER" -w
    [ "$rc" = 42 ] || { arm64_say "expected exit code 42 from the emulated cmd, got $rc"; exit 1; }
    arm64_say "short program run took $(arm64_since "$step_start") s"
}

setup_wine_and_prefix() {
    setup_wine
    setup_prefix
    check_run
}

main() {
    [ "$(id -u)" = 0 ] || arm64_unavailable "root is needed (packages, binfmt_misc, mount, chroot)"
    setup_host_packages
    arm64_ensure_host
    arm64_lock
    if arm64_ready && [ "${1:-}" != --check ]; then
        arm64_chroot /bin/true || arm64_unavailable "arm64 programs do not start in $ARM64_ROOT through qemu-aarch64"
        arm64_say "ready: $ARM64_ROOT"
        return
    fi
    setup_root
    arm64_chroot /bin/true ||
        arm64_unavailable "arm64 programs do not start in $ARM64_ROOT through qemu-aarch64"
    with_system_mounts setup_wine_and_prefix
    arm64_say "ready: $ARM64_ROOT"
}

main "$@"
