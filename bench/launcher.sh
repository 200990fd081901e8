#!/usr/bin/env bash
# Start-up cost of the self-extractor launcher: a tiny program started
# directly against the same program packed into an output (launcher + block +
# 7z archive), under Wine for the Windows module and natively for the host
# launcher. Prints the module size and the mean wall time per start.
# Then, under Wine, a large mixed folder (bench/pack-gendata.sh, SIZE_MB;
# 0 skips it): the time from starting its output to the first moment of its
# main program, against extracting it with 7zz x and starting the program
# directly (medians of RUNS, at most 5); the same for a folder of 24,000 small
# files (bench/gen-manyfiles.py).
#   bench/launcher.sh [BUILD_DIR] [RUNS] [SIZE_MB]     (defaults: build, 20, 200)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
runs="${2:-20}"
size_mb="${3:-200}"
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
    mv "$work/a.7z" "${4%.exe}-a.7z"
}

# "wall_ms cpu_ms" per run of "$@" (mean; cpu = user + system of the whole
# process tree, meaningful even on a loaded machine).
mean_ms() {
    local t
    "$@" >/dev/null 2>&1 </dev/null || true # warm-up
    t=$( { TIMEFORMAT='%R %U %S'; time (for ((i = 0; i < runs; i++)); do
        "$@" >/dev/null 2>&1 </dev/null || true; done); } 2>&1)
    awk -v t="$t" -v n="$runs" 'BEGIN { split(t, a, " ");
        printf "%d %d", a[1] * 1000 / n, (a[2] + a[3]) * 1000 / n }'
}

# Prints one result line: label, direct and packed "wall cpu" pairs.
report() {
    local label=$1 d=($2) p=($3)
    echo "$label direct ${d[0]} ms wall / ${d[1]} ms cpu; packed ${p[0]} ms wall / ${p[1]} ms cpu;" \
        "launcher cost $((p[0] - d[0])) ms wall / $((p[1] - d[1])) ms cpu per start ($runs runs)"
}

echo "module: $(stat -c %s "$module") bytes ($module)"

# Host launcher: a tiny shell program.
mkdir -p "$work/host-app"
printf '#!/bin/sh\nexit 0\n' > "$work/host-app/tiny.sh"
chmod +x "$work/host-app/tiny.sh"
pack "$work/host-app" tiny.sh "$host" "$work/tiny-host"
report "host:" "$(mean_ms "$work/host-app/tiny.sh")" "$(mean_ms "$work/tiny-host")"

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
    runs=$((runs < 10 ? runs : 10))
    report "wine:" "$(mean_ms wine "$work/win-app/tiny.exe")" "$(mean_ms wine "$work/tiny-out.exe")"

    # A large folder: start of the output to the main program's first moment.
    if [ "$size_mb" -gt 0 ]; then
        x86_64-w64-mingw32-gcc -O2 -s -mwindows -o "$work/first.exe" "$root/bench/first-moment.c"
        export QSFX_BENCH_MARK="$work/mark.txt"
        big_runs=$((runs < 5 ? runs : 5))
        # Seconds from now to the moment the program wrote.
        since() { awk -v s="$1" -v m="$(cat "$QSFX_BENCH_MARK")" 'BEGIN { printf "%.3f\n", m - s }'; }
        med() { sort -g "$1" | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "nan" }'; }
        # Output of folder $2 (app.exe its main program) against 7zz x + start.
        first_moment() {
            local label=$1 folder=$2
            cp "$work/first.exe" "$folder/app.exe"
            pack "$folder" app.exe "$module" "$work/big-out.exe"
            echo "output: $(( $(stat -c %s "$work/big-out.exe") >> 20 )) MB"
            : >"$work/packed.txt" && : >"$work/direct.txt"
            for ((i = 0; i < big_runs; i++)); do
                rm -f "$QSFX_BENCH_MARK"
                start=$(date +%s.%N)
                wine "$work/big-out.exe" </dev/null >/dev/null 2>&1 || true
                [ -f "$QSFX_BENCH_MARK" ] && since "$start" >>"$work/packed.txt"
                rm -rf "$work/x" "$QSFX_BENCH_MARK"
                start=$(date +%s.%N)
                7zz x -y "-o$work/x" "$work/big-out-a.7z" -bso0 -bsp0 &&
                    wine "$work/x/app.exe" </dev/null >/dev/null 2>&1 || true
                [ -f "$QSFX_BENCH_MARK" ] && since "$start" >>"$work/direct.txt"
                rm -rf "$work/x"
            done
            echo "wine, $label: output to first moment $(med "$work/packed.txt") s;" \
                "7zz x + start $(med "$work/direct.txt") s (median of $big_runs)"
            rm -rf "$folder" "$work/big-out.exe" "$work/big-out-a.7z"
        }
        echo "generating ${size_mb} MB of mixed data..."
        bash "$root/bench/pack-gendata.sh" "$work/big-app" "$size_mb" >/dev/null
        first_moment "${size_mb} MB folder" "$work/big-app"
        echo "generating the many-files folder (bench/gen-manyfiles.py)..."
        python3 "$root/bench/gen-manyfiles.py" "$work/many-app"
        first_moment "many-files folder (24,000 files)" "$work/many-app"
    fi
    wineserver -k </dev/null >/dev/null 2>&1 || true
fi
