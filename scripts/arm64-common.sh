# Shared pieces of the emulated Windows-on-ARM64 platform: a Debian arm64 root
# run through qemu-user-static (binfmt_misc), holding Debian's arm64 Wine.
# Sourced by scripts/arm64-setup.sh, arm64-wine.sh and arm64-test.sh.

ARM64_ROOT=${PTSA_ARM64_ROOT:-/opt/ptsa/arm64-root}
ARM64_SUITE=bookworm
ARM64_PREFIX=/root/.wine                 # Wine prefix, a path inside the root
ARM64_WINE=/usr/lib/wine/wine64
ARM64_WINESERVER=/usr/lib/wine/wineserver64
ARM64_LOCK=$ARM64_ROOT.lock
ARM64_STATE=$ARM64_ROOT/.ptsa-state      # one marker file per finished setup step
BINFMT_DIR=/proc/sys/fs/binfmt_misc

# Exit code meaning "this machine cannot host the emulated platform" (no root,
# no binfmt_misc, no chroot): distinct from a failure of the platform itself.
ARM64_UNAVAILABLE=77

arm64_say() { echo "[arm64] $*" >&2; }

arm64_unavailable() {
    echo "[arm64] UNAVAILABLE: $*" >&2
    echo "[arm64] Windows-on-ARM64 tests cannot run on this machine (exit $ARM64_UNAVAILABLE)." >&2
    exit "$ARM64_UNAVAILABLE"
}

arm64_now() { date +%s.%N; }
arm64_since() { awk -v a="$1" -v b="$(arm64_now)" 'BEGIN { printf "%.1f", b - a }'; }

# The host must let us chroot and mount, binfmt_misc must be mounted, and the
# qemu-aarch64 handler enabled with the F flag: F makes the kernel open the
# interpreter once, at registration, so it works inside a chroot that does
# not contain it.
arm64_ensure_host() {
    [ "$(id -u)" = 0 ] || arm64_unavailable "root is needed (binfmt_misc, mount, chroot)"
    chroot / /bin/true 2>/dev/null || arm64_unavailable "chroot is not permitted here"
    local probe
    probe=$(mktemp -d)
    if mount -t tmpfs -o size=4k ptsa-mount-probe "$probe" 2>/dev/null; then
        umount "$probe"
        rmdir "$probe"
    else
        rmdir "$probe"
        arm64_unavailable "mounting is not permitted here (needed for /proc, /sys, /dev and the build folder)"
    fi
    if [ ! -e "$BINFMT_DIR/status" ]; then
        mount -t binfmt_misc binfmt_misc "$BINFMT_DIR" 2>/dev/null ||
            arm64_unavailable "binfmt_misc cannot be mounted at $BINFMT_DIR (container without that privilege?)"
    fi
    [ "$(cat "$BINFMT_DIR/status")" = enabled ] || echo 1 > "$BINFMT_DIR/status" ||
        arm64_unavailable "binfmt_misc is disabled and cannot be enabled"
    local handler=$BINFMT_DIR/qemu-aarch64
    if [ -e "$handler" ] && ! grep -q '^flags:.*F' "$handler"; then
        arm64_say "qemu-aarch64 handler lacks the F flag: registering it again"
        echo -1 > "$handler" || arm64_unavailable "cannot remove the qemu-aarch64 handler"
    fi
    if [ ! -e "$handler" ] || ! grep -qx enabled "$handler"; then
        update-binfmts --enable qemu-aarch64 >/dev/null 2>&1 ||
            arm64_unavailable "cannot enable the qemu-aarch64 binfmt_misc handler (update-binfmts --enable qemu-aarch64 failed)"
    fi
    grep -q '^flags:.*F' "$handler" ||
        arm64_unavailable "the qemu-aarch64 handler has no F flag; arm64 programs would not start inside a chroot"
}

# Mount points under the root, deepest first (mountinfo escapes blanks as \040).
arm64_mounts_under_root() {
    awk -v root="$ARM64_ROOT" '$5 == root || index($5, root "/") == 1 { print $5 }' /proc/self/mountinfo |
        while IFS= read -r m; do printf '%b\n' "$m"; done | sort -r
}

# Processes still running inside the root (a program left behind by a test
# that timed out); they would keep the mounts busy.
arm64_root_pids() {
    local p
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/root" 2>/dev/null)" != "$ARM64_ROOT" ] || echo "${p#/proc/}"
    done
}

arm64_stop_processes() {
    local pids i
    pids=$(arm64_root_pids)
    [ -n "$pids" ] || return 0
    kill -TERM $pids 2>/dev/null || true
    for i in 1 2 3 4 5 6 7 8 9 10; do
        pids=$(arm64_root_pids)
        [ -n "$pids" ] || return 0
        sleep 0.5
    done
    arm64_say "killing processes left in the root: $pids"
    kill -KILL $pids 2>/dev/null || true
}

arm64_unmount_all() {
    local m
    for m in $(arm64_mounts_under_root); do
        mount --make-rslave "$m" 2>/dev/null   # never let an unmount reach the host's /dev
        umount -R "$m" 2>/dev/null || umount -R -l "$m" 2>/dev/null || arm64_say "cannot unmount $m"
    done
}

arm64_mount_system() {
    mount -t proc proc "$ARM64_ROOT/proc" &&
    mount -t sysfs sysfs "$ARM64_ROOT/sys" &&
    mount --rbind /dev "$ARM64_ROOT/dev" &&
    mount --make-rslave "$ARM64_ROOT/dev"
}

# Runs a command inside the root with a clean environment; extra NAME=VALUE
# words before the command are added to that environment.
arm64_chroot() {
    local vars=()
    while [ $# -gt 0 ] && [[ $1 == [A-Za-z_]*=* ]]; do vars+=("$1"); shift; done
    env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        WINEPREFIX="$ARM64_PREFIX" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= \
        "${vars[@]}" chroot "$ARM64_ROOT" "$@"
}

# One user of the root at a time: mounts and the wineserver are shared state.
arm64_lock() {
    mkdir -p "$(dirname "$ARM64_LOCK")"
    exec {ARM64_LOCK_FD}>"$ARM64_LOCK"
    if ! flock -n "$ARM64_LOCK_FD"; then
        arm64_say "waiting for another user of $ARM64_ROOT"
        flock -w 1800 "$ARM64_LOCK_FD" || { arm64_say "gave up waiting for $ARM64_LOCK"; exit 1; }
    fi
}

arm64_ready() { [ -e "$ARM64_STATE/debootstrap" ] && [ -e "$ARM64_STATE/wine" ] && [ -e "$ARM64_STATE/prefix" ]; }
