#!/usr/bin/env bash
# Proves the README's set-up on a plain Debian 12: makes a minimal Debian 12
# root with debootstrap, clones the committed checkout into it and runs the
# README's two commands there, as root in a chroot with /proc, /sys, /dev and
# a tmpfs /tmp: scripts/run.sh until its window shows on a virtual display of
# the host, then scripts/test.sh. Prints the time and result of each.
#
#   scripts/fresh-check.sh [ROOT]      (as root; ROOT default /var/tmp/quillon-fresh)
#
# QUILLON_FRESH_QT_CACHE=<folder> binds a Qt-for-Windows build of the host's
# cache (a qt-6.4.2-mingw64-<recipe> folder) into the root's cache, which
# saves its half hour. QUILLON_QTSVG_SOURCE is copied in and passed on as the
# README says. QUILLON_FRESH_KEEP=1 keeps an existing root (re-runs on it).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
checkout="$(cd "$here/.." && pwd)"
target="${1:-/var/tmp/quillon-fresh}"
suite=bookworm
mirror=http://deb.debian.org/debian
log() { echo "fresh-check: $*" >&2; }
[ "$(id -u)" -eq 0 ] || { log "run as root (debootstrap and chroot)"; exit 2; }
"$here/setup-deps.sh" fresh

mounts=()
display=""
xvfb_pid=""
cleanup() {
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount -l "${mounts[$i]}" 2>/dev/null || true
    done
}
trap cleanup EXIT

if [ "${QUILLON_FRESH_KEEP:-0}" != 1 ] || [ ! -f "$target/.fresh-root" ]; then
    if mountpoint -q "$target/proc" 2>/dev/null; then
        log "$target is in use (mounted)"
        exit 1
    fi
    rm -rf "$target"
    start=$SECONDS
    log "debootstrap --variant=minbase $suite into $target"
    debootstrap --variant=minbase "$suite" "$target" "$mirror" >"$target.debootstrap.log" 2>&1 || {
        tail -n 20 "$target.debootstrap.log" >&2
        exit 1
    }
    cat >"$target/etc/apt/sources.list" <<SOURCES
deb $mirror $suite main
deb $mirror $suite-updates main
deb http://deb.debian.org/debian-security $suite-security main
SOURCES
    touch "$target/.fresh-root"
    log "root made in $((SECONDS - start)) s"
fi
cp /etc/resolv.conf "$target/etc/resolv.conf"

# A clean clone of the committed tree, and the dependency sources CI keeps
# beside the checkout.
rm -rf "$target/work"
mkdir -p "$target/work/shared/deps"
git clone -q --no-hardlinks "$checkout" "$target/work/quillon"
env_args=(HOME=/root LANG=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin)
if [ -n "${QUILLON_QTSVG_SOURCE:-}" ]; then
    cp "$QUILLON_QTSVG_SOURCE" "$target/work/shared/deps/"
    env_args+=("QUILLON_QTSVG_SOURCE=/work/shared/deps/$(basename "$QUILLON_QTSVG_SOURCE")")
fi

bind() {
    mkdir -p "$2"
    mount "${@:3}" "$1" "$2"
    mounts+=("$2")
}
bind proc "$target/proc" -t proc
bind sysfs "$target/sys" -t sysfs
bind /dev "$target/dev" --rbind
bind tmpfs "$target/tmp" -t tmpfs
if [ -n "${QUILLON_FRESH_QT_CACHE:-}" ]; then
    bind "$QUILLON_FRESH_QT_CACHE" "$target/root/.cache/quillon/$(basename "$QUILLON_FRESH_QT_CACHE")" --bind
    log "Qt for Windows bound in from $QUILLON_FRESH_QT_CACHE"
fi

in_root() { chroot "$target" /usr/bin/env -i "${env_args[@]}" "$@"; }

# The run command, its window on a display of the host's (the X socket bound in).
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
bind /tmp/.X11-unix "$target/tmp/.X11-unix" --bind
start=$SECONDS
log "scripts/run.sh"
in_root DISPLAY="$display" bash -c 'cd /work/quillon && scripts/run.sh' >"$target.run.log" 2>&1 &
run_pid=$!
shown=""
while kill -0 "$run_pid" 2>/dev/null; do
    if DISPLAY="$display" xdotool search --onlyvisible --name '^Quillon$' >/dev/null 2>&1; then
        shown=yes
        break
    fi
    sleep 2
done
run_time=$((SECONDS - start))
pkill -f -x "$target/work/quillon/build/bin/quillon" 2>/dev/null || true
kill "$run_pid" 2>/dev/null || true
wait "$run_pid" 2>/dev/null || true
if [ -z "$shown" ]; then
    tail -n 30 "$target.run.log" >&2
    log "scripts/run.sh: no window after $run_time s (log: $target.run.log)"
    exit 1
fi
log "scripts/run.sh: window shown after $run_time s"

start=$SECONDS
log "scripts/test.sh"
set +e
in_root bash -c 'cd /work/quillon && scripts/test.sh' >"$target.test.log" 2>&1
status=$?
set -e
test_time=$((SECONDS - start))
if [ "$status" -ne 0 ]; then
    tail -n 40 "$target.test.log" >&2
    log "scripts/test.sh failed ($status) after $test_time s (log: $target.test.log)"
    exit 1
fi
log "scripts/test.sh passed in $test_time s"
log "summary: run.sh window after $run_time s; test.sh passed in $test_time s"
