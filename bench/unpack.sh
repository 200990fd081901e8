#!/bin/bash
# Extraction speed and peak memory: quillon-unpack x against 7zz x -mmt=1 on
# the same archives, in the same run.
#   bench/unpack.sh [BUILD_DIR] [SIZE_MB]     (defaults: build, 200)
# Prints, per archive: wall seconds and peak RSS of each, and the time ratio.
# Goals: ratio <= 1.25, our peak RSS <= dictionary + 16 MB.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
size_mb=${2:-200}
unpack=$build/bin/quillon-unpack
[ -x "$unpack" ] || { echo "build quillon-unpack first ($unpack)" >&2; exit 1; }
command -v 7zz >/dev/null || { echo "7zz missing" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time missing (package time)" >&2; exit 1; }
rounds=${ROUNDS:-2}

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-bench-unpack.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/src
mkdir -p "$src/text" "$src/bin" "$src/random" "$src/zero"

# Mixed data: 40% text, 30% executables, 20% random, 10% sparse.
echo "generating ${size_mb} MB of mixed data..."
python3 - "$src" "$size_mb" <<'PY'
import os, random, sys
src, total = sys.argv[1], int(sys.argv[2]) << 20
rnd = random.Random(42)
words = "alpha beta gamma delta quillon archive module folder program window " \
        "settings version icon resource portable extract compress".split()
def text(n):
    out, size, line = [], 0, 0
    while size < n:
        s = "%d: %s\n" % (line, " ".join(rnd.choice(words) for _ in range(10)))
        out.append(s); size += len(s); line += 1
    return "".join(out)[:n].encode()
for i in range(8):
    open(f"{src}/text/t{i}.txt", "wb").write(text(total * 4 // 10 // 8))
bins = [os.path.join(d, f) for d in ("/usr/bin", "/usr/lib/x86_64-linux-gnu")
        for f in sorted(os.listdir(d))]
want, got, k = total * 3 // 10, 0, 0
for path in bins:
    if got >= want: break
    try:
        if os.path.islink(path) or not os.path.isfile(path): continue
        data = open(path, "rb").read()
    except OSError: continue
    if data[:4] != b"\x7fELF": continue
    data = data[: want - got]
    open(f"{src}/bin/b{k:04d}", "wb").write(data); got += len(data); k += 1
for i in range(4):
    open(f"{src}/random/r{i}.bin", "wb").write(os.urandom(total * 2 // 10 // 4))
z = bytearray(total // 10)
for i in range(0, len(z), 4096): z[i] = i & 0xFF
open(f"{src}/zero/sparse.bin", "wb").write(bytes(z))
PY
du -sm "$src" | awk '{print "source: " $1 " MB"}'

measure() { # label, command... -> "seconds rss_kb"
    local out=$work/time.txt
    /usr/bin/time -v -o "$out" "$@" >/dev/null 2>"$work/err.txt" || { cat "$work/err.txt" >&2; return 1; }
    local wall rss
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$out" |
           awk -F: '{ if (NF==3) print $1*3600+$2*60+$3; else print $1*60+$2 }')
    rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$out")
    echo "$wall $rss"
}

run_case() { # name, dictionary MB, 7zz switches...
    local name=$1 dict=$2; shift 2
    local archive=$work/$name.7z
    echo
    echo "== $name (dictionary ${dict} MB): 7zz a $*"
    7zz a -t7z "$archive" "$src/*" -r "$@" -bso0 -bsp0 -ssc
    echo "archive: $(( $(stat -c %s "$archive") >> 20 )) MB"
    local best_q=999999 best_z=999999 rss_q=0 rss_z=0
    for round in $(seq "$rounds"); do
        rm -rf "$work/out"
        read -r t r < <(measure "$unpack" x "$archive" "$work/out")
        best_q=$(awk -v a="$t" -v b="$best_q" 'BEGIN{print (a<b)?a:b}'); rss_q=$r
        rm -rf "$work/out"
        read -r t r < <(measure 7zz x -mmt=1 -y "-o$work/out" "$archive")
        best_z=$(awk -v a="$t" -v b="$best_z" 'BEGIN{print (a<b)?a:b}'); rss_z=$r
    done
    rm -rf "$work/out"
    awk -v q="$best_q" -v z="$best_z" -v rq="$rss_q" -v rz="$rss_z" -v d="$dict" 'BEGIN {
        printf "quillon-unpack x : %7.2f s  peak %6.1f MB\n", q, rq/1024
        printf "7zz x -mmt=1     : %7.2f s  peak %6.1f MB\n", z, rz/1024
        printf "time ratio       : %7.3f   (goal <= 1.25)\n", q/z
        printf "memory vs goal   : %6.1f MB of %d MB (dictionary + 16 MB)\n", rq/1024, d+16
    }'
    rm -f "$archive"
}

run_case lzma2-mx5 16 -m0=LZMA2 -mx=5 -md=16m
run_case lzma-mx9-bcj2 64 -m0=BCJ2 -m1=LZMA:d=64m -m2=LZMA:d=1m:lc0:lp2 -m3=LZMA:d=1m:lc0:lp2 \
    -mb0:1 -mb0s1:2 -mb0s2:3 -mx=9
