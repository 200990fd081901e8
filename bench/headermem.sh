#!/bin/bash
# Peak memory of quillon-unpack t on small archives whose LZMA-encoded header
# declares many folders, files or substreams.
#   bench/headermem.sh [BUILD_DIR]     (default: build)
# Prints, per archive: archive size, decoded header size, exit code, peak RSS
# and the goal: peak RSS <= 64 MiB + 4 x decoded header. Each run is held to
# a 4 GiB address space (ulimit -v) so a fault cannot take the machine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
unpack=$build/bin/quillon-unpack
[ -x "$unpack" ] || { echo "build quillon-unpack first ($unpack)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time missing (package time)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-bench-headermem.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 - "$work" "$here/tests/sevenzip" <<'PY'
import sys
work = sys.argv[1]
sys.path.insert(0, sys.argv[2])
from hostile7z import encoded as encode, num

def encoded(header):
    return encode(header, preset=1)

def pad(head, size):
    return head + bytes(size - len(head))

shapes = {
    # Counts as large as the bytes allowed before (two bytes a folder or a
    # file, a byte a substream) or allow now, with records of zeros.
    "folders": lambda n: pad(b"\x01\x04\x07\x0b" + num(n // 2 - 16) + b"\x00", n),
    "packs+folders": lambda n: pad(b"\x01\x04\x06\x00" + num(n // 4) + b"\x09" + bytes(n // 4)
                                   + b"\x00\x07\x0b" + num(n // 4) + b"\x00", n),
    "files": lambda n: pad(b"\x01\x05" + num(n // 4 - 16) + b"\x11" + num(n - 32) + b"\x00", n),
    "names": lambda n: pad(b"\x01\x05" + num(n // 4 - 16) + b"\x11" + num(n // 4 * 4 - 63)
                           + b"\x00" + b"a\x00\x00\x00" * (n // 4 - 16), n),
    "substreams": lambda n: pad(b"\x01\x04\x06\x00\x01\x09\x04\x00\x07\x0b\x01\x00\x01\x01\x00"
                                b"\x0c\x04\x00\x08\x0d" + num(n // 5 - 64) + b"\x09", n),
}
with open(f"{work}/list.txt", "w") as listing:
    for mib in (16, 64, 256):
        for name, make in shapes.items():
            header = make(mib << 20)
            path = f"{work}/{name}-{mib}M.7z"
            open(path, "wb").write(encoded(header))
            listing.write(f"{path} {len(header)}\n")
PY

printf '%-22s %10s %12s %5s %12s %12s %s\n' archive bytes header exit peak_MiB goal_MiB verdict
fails=0
while read -r path header; do
    set +e
    ( ulimit -v 4194304; /usr/bin/time -v -o "$work/time.txt" "$unpack" t "$path" >/dev/null 2>"$work/err.txt" )
    code=$?
    set -e
    rss_kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
    peak=$(( (rss_kb + 1023) / 1024 ))
    goal=$(( 64 + 4 * header / 1048576 ))
    verdict=ok
    if [ "$peak" -gt "$goal" ] || [ "$code" -gt 1 ]; then verdict=FAIL; fails=$((fails + 1)); fi
    printf '%-22s %10d %12d %5d %12d %12d %s\n' "$(basename "$path")" "$(stat -c %s "$path")" \
        "$header" "$code" "$peak" "$goal" "$verdict"
    [ "$code" -eq 0 ] || sed -n 1p "$work/err.txt" | cut -c1-100
done <"$work/list.txt"
echo "headermem: $fails over the goal"
[ "$fails" -eq 0 ]
