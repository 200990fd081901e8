#!/usr/bin/env bash
# Start-up cost of the self-extractor launcher: a tiny program started
# directly against the same program packed into an output (launcher + block +
# 7z archive), under Wine for the Windows module and natively for the host
# launcher. Prints the module size and the mean wall time per start.
#   bench/launcher.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
runs="${2:-20}"
module="$build/sfx/module/quillon-sfx.exe"
host="$build/bin/quillon-sfx-host"
for f in "$module" "$host"; do
    [ -f "$f" ] || { echo "missing $f: build quillon_sfx_module and quillon-sfx-host" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Packs folder $1 (main program $2) behind launcher $3 into $4.
pack() {
    7zz a -t7z "$work/a.7z" "$1/*" -r -mx=5 -m0=LZMA2 -md=16M -bsp1 -ssc >/dev/null
    local title="${2%.*}"
    { cat "$3"
      printf ';!@Install@!UTF-8!\nTitle="%s"\nProgress="no"\nExecuteFile="%s"\n;!@InstallEnd@!\n' \
          "$title" "$2"
      cat "$work/a.7z"; } > "$4"
    chmod +x "$4"
    rm -f "$work/a.7z"
}

# Mean milliseconds per run of "$@".
mean_ms() {
    local start end
    "$@" >/dev/null 2>&1 </dev/null || true # warm-up
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do
        "$@" >/dev/null 2>&1 </dev/null || true
    done
    end=$(date +%s%N)
    echo $(((end - start) / runs / 1000000))
}

echo "module: $(stat -c %s "$module") bytes ($module)"

# Host launcher: a tiny shell program.
mkdir -p "$work/host-app"
printf '#!/bin/sh\nexit 0\n' > "$work/host-app/tiny.sh"
chmod +x "$work/host-app/tiny.sh"
pack "$work/host-app" tiny.sh "$host" "$work/tiny-host"
direct=$(mean_ms "$work/host-app/tiny.sh")
packed=$(mean_ms "$work/tiny-host")
echo "host:  direct ${direct} ms, packed ${packed} ms, launcher cost $((packed - direct)) ms per start ($runs runs)"

# Windows module under Wine: a tiny GUI program of ours.
if command -v wine >/dev/null && command -v x86_64-w64-mingw32-gcc >/dev/null; then
    export WINEPREFIX="${WINEPREFIX:-$build/wine}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY
    [ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1 </dev/null; wineserver -w; }
    mkdir -p "$work/win-app"
    printf 'int main(void) { return 0; }\n' > "$work/tiny.c"
    x86_64-w64-mingw32-gcc -O2 -s -mwindows -o "$work/win-app/tiny.exe" "$work/tiny.c"
    pack "$work/win-app" tiny.exe "$module" "$work/tiny-out.exe"
    wineserver -p 60 </dev/null >/dev/null 2>&1 & # keep one server for every run
    sleep 1
    wruns=$((runs < 10 ? runs : 10))
    runs=$wruns
    direct=$(mean_ms wine "$work/win-app/tiny.exe")
    packed=$(mean_ms wine "$work/tiny-out.exe")
    echo "wine:  direct ${direct} ms, packed ${packed} ms, launcher cost $((packed - direct)) ms per start ($runs runs)"
    wineserver -k </dev/null >/dev/null 2>&1 || true
fi
