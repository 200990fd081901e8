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
# Encoded headers that declare many records: 64 KiB of header, mostly zeros.
python3 - "$out" <<'PY'
import lzma, struct, sys, zlib
out = sys.argv[1]
def num(v):
    for extra in range(8):
        if v < 1 << (7 * (extra + 1)):
            first = ((0xFF00 >> extra) & 0xFF) | (v >> (8 * extra))
            return bytes([first]) + v.to_bytes(8, "little")[:extra]
    return b"\xff" + v.to_bytes(8, "little")
def wrap(packed, header):
    tail = struct.pack("<QQI", len(packed), len(header), zlib.crc32(header))
    return b"7z\xbc\xaf\x27\x1c\x00\x04" + struct.pack("<I", zlib.crc32(tail)) + tail + packed + header
def encoded(header, size=1 << 16):
    header += bytes(size - len(header))
    packed = lzma.compress(header, format=lzma.FORMAT_RAW, filters=[
        {"id": lzma.FILTER_LZMA1, "dict_size": 1 << 16, "lc": 3, "lp": 0, "pb": 2}])
    h = b"\x17\x06" + num(0) + num(1) + b"\x09" + num(len(packed)) + b"\x00"
    h += b"\x07\x0b\x01\x00\x01\x23\x03\x01\x01\x05\x5d\x00\x00\x01\x00"
    h += b"\x0c" + num(len(header)) + b"\x0a\x01" + struct.pack("<I", zlib.crc32(header)) + b"\x00\x00"
    return wrap(packed, h)
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
    open(f"{out}/{name}.7z", "wb").write(encoded(header))
PY
ls -l "$out"
