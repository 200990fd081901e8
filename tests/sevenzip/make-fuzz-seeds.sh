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
ls -l "$out"
