#!/bin/bash
# Writes small seed archives for fuzz_7z into tests/fuzz-seeds/fuzz_7z with
# the real 7zz: one per coder layout the reader accepts.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$root/tests/fuzz-seeds/fuzz_7z
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/src/dir/empty"
cd "$work/src"
printf 'hello hello hello quillon\n' > a.txt
printf '' > zero
# Call-like byte patterns so the branch filters have something to convert.
python3 -c 'import sys; sys.stdout.buffer.write(bytes(b for i in range(100) for b in (0x55, 0xE8, i, 1, 0, 0)))' > dir/code.bin
seed() { # name, switches...
    local name=$1
    shift
    rm -f "$out/$name.7z"
    7zz a -t7z "$out/$name.7z" ./* -r -bso0 -bsp0 -ssc -mtm=off -mtc=off -mta=off "$@" >/dev/null
}
seed lzma -m0=LZMA -mx=5
seed lzma2 -m0=LZMA2 -mx=5
seed copy -m0=Copy -mx=0
seed header-plain -m0=LZMA -mhc=off
seed bcj -m0=LZMA2 -mf=BCJ
seed arm64 -m0=LZMA2 -mf=ARM64
seed delta -m0=LZMA2 -mf=Delta:4
seed bcj2 -m0=BCJ2 -m1=LZMA -m2=LZMA -m3=LZMA -mb0:1 -mb0s1:2 -mb0s2:3
seed bcj2-stored -m0=BCJ2 -m1=LZMA -mb0:1
seed bcj2-rc-lzma -m0=BCJ2 -m1=LZMA -m2=LZMA -mb0:1 -mb0s3:2
# LZMA2 of three blocks (one per MiB of input), decoded on two threads; quick to
# decode, as most of its mutations are.
mkdir -p "$work/blocks"
python3 -c 'import sys; sys.stdout.buffer.write(b"quillon block\n" * 170000)' > "$work/blocks/lines.txt"
rm -f "$out/lzma2-blocks.7z"
(cd "$work/blocks" && 7zz a -t7z "$out/lzma2-blocks.7z" lines.txt -bso0 -bsp0 -mtm=off -mtc=off \
    -mta=off -m0=LZMA2 -mx=1 -md=64K -mmt=4 >/dev/null)
# Encoded headers that declare many records: 64 KiB of header, mostly zeros.
python3 - "$out" "$root/tests/sevenzip" <<'PY'
import sys
out = sys.argv[1]
sys.path.insert(0, sys.argv[2])
from hostile7z import encoded, num
def padded(header, size=1 << 16):
    return encoded(header + bytes(size - len(header)))
n = 1 << 16
seeds = {
    "many-folders": b"\x01\x04\x06\x00" + num(n // 5) + b"\x09" + bytes(n // 5) + b"\x00\x07\x0b"
                    + num(n // 5) + b"\x00",
    "many-files": b"\x01\x05" + num(n // 4 - 16) + b"\x11" + num(n - 32) + b"\x00",
    "many-names": b"\x01\x05" + num(n // 4 - 16) + b"\x11" + num(1 + 4 * (n // 4 - 16)) + b"\x00"
                  + b"a\x00\x00\x00" * (n // 4 - 16),
    "many-substreams": b"\x01\x04\x06\x00\x01\x09\x04\x00\x07\x0b\x01\x00\x01\x01\x00\x0c\x04"
                       b"\x00\x08\x0d" + num(n // 5 - 64) + b"\x09",
}
for name, header in seeds.items():
    open(f"{out}/{name}.7z", "wb").write(padded(header))
PY
ls -l "$out"
