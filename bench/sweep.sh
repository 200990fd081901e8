#!/usr/bin/env bash
# The sweep of stale private folders costs the program no start time: an
# output's program starts as soon with FOLDERS stale folders (as killed runs
# leave them: a folder of FILES files and its unheld lock) in the temporary
# folder as without any. Natively for the host launcher and under Wine for the
# module; prints the medians of RUNS of the time from the start of the output
# to its program's first moment, and of the whole run, with and without the
# stale folders. The program here ends at once, so the run lets the sweep go
# on for its grace time only and leaves the rest to later starts: the count of
# stale entries (folders and locks) left after each such run, summed, shows it.
#   bench/sweep.sh [BUILD_DIR] [RUNS] [FOLDERS] [FILES]    (defaults: build, 5, 100, 50)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
runs="${2:-5}"
folders="${3:-100}"
files="${4:-50}"
module="$build/sfx/module/quillon-sfx.exe"
host="$build/bin/quillon-sfx-host"
for f in "$module" "$host"; do
    [ -f "$f" ] || { echo "missing $f: build quillon_sfx_module and quillon-sfx-host" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QSFX_BENCH_MARK="$work/mark.txt"

# Packs folder $1 (main program $2) behind launcher $3 into $4.
pack() {
    7zz a -t7z "$work/a.7z" "$1/*" -r -mx=5 -m0=LZMA2 -md=16M -bsp1 -ssc >/dev/null
    { cat "$3"
      printf ';!@Install@!UTF-8!\nTitle="%s"\nProgress="no"\nExecuteFile="%s"\n;!@InstallEnd@!\n' \
          "${2%.*}" "$2"
      cat "$work/a.7z"; } > "$4"
    chmod +x "$4"
    rm "$work/a.7z"
}

# Makes $2 stale run folders in directory $1, each with its lock naming it
# ($3: "host" locks name device and inode, "windows" ones the file number).
plant() {
    python3 - "$1" "$2" "$3" "$files" <<'PY'
import os, sys
temp, count, kind, files = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
os.makedirs(temp, exist_ok=True)
blob = os.urandom(20000)
for i in range(count):
    folder = os.path.join(temp, f"qsfx-{0xb000 + i:x}-{i:08x}")
    os.makedirs(os.path.join(folder, "lib", "data"))
    for j in range(files):
        sub = "lib/data" if j % 2 else "lib"
        with open(os.path.join(folder, sub, f"file{j}.bin"), "wb") as f:
            f.write(blob[: 1000 + 371 * j % 19000])
    info = os.lstat(folder)
    device = info.st_dev if kind == "host" else 0
    with open(folder + ".lock", "w") as f:
        f.write(f"quillon-sfx run {device:x}-{info.st_ino:x}\n")
PY
}

stale() { find "$1" -maxdepth 1 -name 'qsfx-*' | wc -l; }
med() { sort -g "$1" | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "nan" }'; }
# Seconds from $1 to the moment the program wrote its mark.
since() { awk -v s="$1" -v m="$(cat "$QSFX_BENCH_MARK")" 'BEGIN { printf "%.3f\n", m - s }'; }
seconds() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%.3f\n", e - s }'; }

# Runs output $2 ($1: the command in front, may be empty) RUNS times with and
# without stale folders in temporary folder $3 (of kind $4); prints a line
# labelled $5.
measure() {
    local prefix=$1 output=$2 temp=$3 kind=$4 label=$5 left=0
    : >"$work/start-clean" && : >"$work/start-stale" && : >"$work/run-clean" && : >"$work/run-stale"
    $prefix "$output" </dev/null >/dev/null 2>&1 || true # warm-up
    for ((i = 0; i < runs; i++)); do
        for state in clean stale; do
            find "$temp" -mindepth 1 -maxdepth 1 -name 'qsfx-*' -exec rm -rf {} +
            [ "$state" = stale ] && plant "$temp" "$folders" "$kind"
            sync
            rm -f "$QSFX_BENCH_MARK"
            start=$(date +%s.%N)
            $prefix "$output" </dev/null >/dev/null 2>&1 || true
            end=$(date +%s.%N)
            [ -f "$QSFX_BENCH_MARK" ] && since "$start" >>"$work/start-$state"
            seconds "$start" "$end" >>"$work/run-$state"
            [ "$state" = stale ] && left=$((left + $(stale "$temp")))
        done
    done
    echo "$label program starts after $(med "$work/start-clean") s without stale folders," \
        "$(med "$work/start-stale") s with $folders; whole run $(med "$work/run-clean") s" \
        "against $(med "$work/run-stale") s (medians of $runs); stale entries left for later" \
        "starts: $left of $((runs * folders * 2))"
}

echo "$folders stale folders of $files files each"

# Host launcher: a shell program that notes its first moment.
mkdir -p "$work/host-app"
printf '#!/bin/sh\ndate +%%s.%%N > "$QSFX_BENCH_MARK"\n' > "$work/host-app/first.sh"
chmod +x "$work/host-app/first.sh"
pack "$work/host-app" first.sh "$host" "$work/first-host"
export TMPDIR="$work/host-tmp"
mkdir -p "$TMPDIR"
measure "" "$work/first-host" "$TMPDIR" host "host:"
unset TMPDIR

# Windows module under Wine.
if command -v wine >/dev/null && command -v x86_64-w64-mingw32-gcc >/dev/null; then
    export WINEPREFIX="${WINEPREFIX:-$build/wine}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY
    [ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1 </dev/null; wineserver -w; }
    mkdir -p "$work/win-app"
    x86_64-w64-mingw32-gcc -O2 -s -mwindows -o "$work/win-app/app.exe" "$root/bench/first-moment.c"
    pack "$work/win-app" app.exe "$module" "$work/first-out.exe"
    wineserver -p 60 </dev/null >/dev/null 2>&1 & # keep one server for every run
    sleep 1
    wine_temp="$(wine cmd /c 'echo %TEMP%' 2>/dev/null </dev/null | tr -d '\r')"
    wine_temp="$(winepath -u "$wine_temp" 2>/dev/null </dev/null)"
    wine_temp="${wine_temp%/}"
    measure wine "$work/first-out.exe" "$wine_temp" windows "wine:"
    find "$wine_temp" -mindepth 1 -maxdepth 1 -name 'qsfx-*' -exec rm -rf {} +
    wineserver -k </dev/null >/dev/null 2>&1 || true
fi
