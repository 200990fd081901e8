#!/bin/bash
# Extraction speed and peak memory: quillon-unpack x against 7zz x -mmt=1 and
# against 7zz x on every processor, on the same archives, runs alternating.
#   bench/unpack.sh [BUILD_DIR] [SIZE_MB]     (defaults: build, 200)
# Prints, per archive: median wall seconds and peak RSS of each over ROUNDS
# rounds (default 3), and the time ratios. LZMA and LZMA2 at levels 5 and 9;
# LZMA2 packed with one block thread (one block) and with -mmt=4 (a block every
# few dictionary sizes), plus text packed with -md=1m -mmt=4 (many blocks),
# BCJ2, and an application folder of many small files (24,000 files of a few
# KB in 600 folders and a few programs of several MB, about 110 MB) packed
# with the job's defaults (LZMA, level 5, 16M).
# Goals on 2 cores: LZMA and BCJ2 <= 0.95 x 7zz -mmt=1, LZMA2 of one block
# <= 0.93; LZMA2 of several blocks <= 0.6 x 7zz -mmt=1 and <= 0.9 x 7zz on
# all processors; many small files <= 0.85 x 7zz -mmt=1; our peak RSS <=
# threads x (dictionary + 8 MB) + 16 MB.
# CASES="name ..." runs only those cases (names as printed after "==").
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
size_mb=${2:-200}
unpack=$build/bin/quillon-unpack
[ -x "$unpack" ] || { echo "build quillon-unpack first ($unpack)" >&2; exit 1; }
command -v 7zz >/dev/null || { echo "7zz missing" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time missing (package time)" >&2; exit 1; }
rounds=${ROUNDS:-3}
cores=$(nproc)

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

measure() { # command... -> "seconds rss_kb"
    local out=$work/time.txt start end
    start=$(date +%s.%N)
    /usr/bin/time -v -o "$out" "$@" >/dev/null 2>"$work/err.txt" || { cat "$work/err.txt" >&2; return 1; }
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" -v r="$(awk -F': ' '/Maximum resident set size/ {print $2}' "$out")" \
        'BEGIN { printf "%.3f %d\n", e - s, r }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# LZMA2 blocks (chunks that reset the dictionary) in the packed streams, walked
# one after the other from the start: "streams blocks most-in-one-stream".
lzma2_blocks() {
    python3 - "$1" <<'PY'
import sys
d = open(sys.argv[1], "rb").read()
p, counts, blocks = 32, [], 0
while p + 6 <= len(d):
    c = d[p]
    if c == 0 and blocks:  # end marker: the next stream may follow
        counts.append(blocks); blocks = 0; p += 1
    elif c in (1, 2):
        blocks += c == 1; p += 3 + (d[p + 1] << 8 | d[p + 2]) + 1
    elif c >= 0x80 and (blocks or c >= 0xE0):
        blocks += c >= 0xE0; p += (6 if c >= 0xC0 else 5) + (d[p + 3] << 8 | d[p + 4]) + 1
    else:
        break
if blocks:
    counts.append(blocks)
print(len(counts), sum(counts), max(counts, default=0))
PY
}

# The dictionary a decoder of the archive needs, in MB: the largest of its
# coders' ("LZMA:23" is 2^23 bytes, "LZMA2:3m" 3 MB), at most the unpacked size.
dictionary_mb() {
    7zz l -slt "$1" | python3 -c '
import re, sys
units = {"": 1, "b": 1, "k": 1 << 10, "m": 1 << 20, "g": 1 << 30}
dictionary, total = 0, 0
for line in sys.stdin:
    if line.startswith("Method = "):
        for value, unit in re.findall(r"LZMA2?:(\d+)([bkmg]?)", line):
            size = 1 << int(value) if not unit and int(value) < 64 else int(value) * units[unit]
            dictionary = max(dictionary, size)
    elif line.startswith("Size = "):
        total += int(line.split("=")[1])
print(-(-min(dictionary, total) // (1 << 20)))'
}

run_case() { # name, source folder, 7zz switches...
    local name=$1 from=$2; shift 2
    if [ -n "${CASES:-}" ] && [[ " $CASES " != *" $name "* ]]; then
        return 0
    fi
    local archive=$work/$name.7z
    echo
    echo "== $name: 7zz a $*"
    7zz a -t7z "$archive" "$from/*" -r "$@" -bso0 -bsp0 -ssc
    local dict
    dict=$(dictionary_mb "$archive")
    local streams total blocks threads
    read -r streams total blocks < <(lzma2_blocks "$archive")
    threads=$(( blocks > cores ? cores : (blocks > 0 ? blocks : 1) ))
    echo "archive: $(( $(stat -c %s "$archive") >> 20 )) MB, dictionary $dict MB; LZMA2: $total" \
        "block(s) in $streams stream(s), $blocks in the largest"
    : >"$work/q" && : >"$work/z1" && : >"$work/zn"
    for round in $(seq "$rounds"); do
        rm -rf "$work/out"
        measure "$unpack" x "$archive" "$work/out" >>"$work/q"
        rm -rf "$work/out"
        measure 7zz x -mmt=1 -y "-o$work/out" "$archive" >>"$work/z1"
        rm -rf "$work/out"
        measure 7zz x -y "-o$work/out" "$archive" >>"$work/zn"
    done
    rm -rf "$work/out"
    local q z1 zn rq rz1 rzn
    q=$(cut -d' ' -f1 "$work/q" | median); rq=$(cut -d' ' -f2 "$work/q" | median)
    z1=$(cut -d' ' -f1 "$work/z1" | median); rz1=$(cut -d' ' -f2 "$work/z1" | median)
    zn=$(cut -d' ' -f1 "$work/zn" | median); rzn=$(cut -d' ' -f2 "$work/zn" | median)
    awk -v q="$q" -v z1="$z1" -v zn="$zn" -v rq="$rq" -v rz1="$rz1" -v rzn="$rzn" -v d="$dict" \
        -v t="$threads" -v b="$blocks" -v c="$cores" -v n="$rounds" -v name="$name" 'BEGIN {
        goal = b > 1 ? 0.6 : name ~ /many/ ? 0.85 : name ~ /^lzma2/ ? 0.93 : 0.95
        printf "quillon-unpack x : %7.3f s  peak %6.1f MB  (median of %d)\n", q, rq/1024, n
        printf "7zz x -mmt=1     : %7.3f s  peak %6.1f MB\n", z1, rz1/1024
        printf "7zz x (%d cores)  : %7.3f s  peak %6.1f MB\n", c, zn, rzn/1024
        printf "vs 7zz -mmt=1    : %7.3f", q/z1
        printf "   (goal <= %.2f)\n", goal
        printf "vs 7zz all cores : %7.3f", q/zn
        if (b > 1) printf "   (goal <= 0.9)\n"; else printf "\n"
        printf "memory vs goal   : %6.1f MB of %d MB (%d x (dictionary + 8 MB) + 16 MB)\n",
            rq/1024, t*(d+8)+16, t
    }'
    rm -f "$archive"
}

# An application folder of many small files (bench/gen-manyfiles.py).
many=$work/many
if [ -z "${CASES:-}" ] || [[ " $CASES " == *" many-small-files "* ]]; then
    python3 "$here/bench/gen-manyfiles.py" "$many"
    echo "many small files: $(find "$many" -type f | wc -l) files, $(find "$many" -type f -printf '%s\n' | awk '{ s += $1 } END { print int(s / 1048576) }') MB"
fi

run_case many-small-files "$many" -m0=LZMA -mx=5 -md=16M
run_case lzma-mx5 "$src" -m0=LZMA -mx=5
run_case lzma-mx9 "$src" -m0=LZMA -mx=9
run_case lzma2-mx5-one-block "$src" -m0=LZMA2 -mx=5 -mmt=1
run_case lzma2-mx5-mmt4 "$src" -m0=LZMA2 -mx=5 -mmt=4
run_case lzma2-mx9-one-block "$src" -m0=LZMA2 -mx=9 -mmt=1
run_case lzma2-mx9-mmt4 "$src" -m0=LZMA2 -mx=9 -mmt=4
run_case lzma2-text-md1m-mmt4 "$src/text" -m0=LZMA2 -md=1m -mmt=4
run_case lzma-mx9-bcj2 "$src" -m0=BCJ2 -m1=LZMA:d=64m -m2=LZMA:d=1m:lc0:lp2 \
    -m3=LZMA:d=1m:lc0:lp2 -mb0:1 -mb0s1:2 -mb0s2:3 -mx=9
