#!/usr/bin/env bash
# Cross-builds every Qt-free part of Quillon for Windows x86-64 with mingw-w64,
# warnings as errors: the PE library, the resource editor, the Win32 layer that
# reads and writes resources, and the self-extractor module. The programs land in
# build-cross/ (or $QUILLON_CROSS_DIR).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${QUILLON_CROSS_DIR:-$root/build-cross}"
mkdir -p "$out/host"

# The module's icon is drawn by a small host program.
c++ -std=c++17 -O2 -Wall -Wextra -Werror -I"$root/formats" "$root/sfx/icongen.cpp" \
    "$root/formats/ico.cpp" -o "$out/host/icongen"
"$out/host/icongen" "$out/host/quillon-sfx.ico"

cmake -S "$root/cmake/cross" -B "$out" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/sfx/cross/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DQUILLON_WERROR=ON \
    -DQSFX_ICON_FILE="$out/host/quillon-sfx.ico" >/dev/null
cmake --build "$out" --parallel "$(nproc)"
