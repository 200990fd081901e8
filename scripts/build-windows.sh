#!/usr/bin/env bash
# Cross-builds Quillon for Windows x86-64 on Linux, warnings as errors, with
# Qt for Windows built once by scripts/build-qt-windows.sh. Results:
#   build-win/dist/Quillon/                        the program folder
#   build-win/dist/Quillon-<version>-windows-x64.zip   the download
#   build-win/dist/QuillonPortable.exe             that folder packed by Quillon
# The cross build needs helper programs and quillon-cli from the Linux build
# (build/, or $QUILLON_BUILD_DIR); missing ones are built there. Extra
# arguments go to the CMake configure step of build-win/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${QUILLON_WIN_DIR:-$root/build-win}"
host="${QUILLON_BUILD_DIR:-$root/build}"
jobs="$(nproc)"
[ "$jobs" -le 2 ] || jobs=2

"$root/scripts/setup-deps.sh" build windows
qt="$("$root/scripts/build-qt-windows.sh" | tail -n 1)"

if [ ! -f "$host/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$host" -G Ninja -DQUILLON_WERROR=ON >/dev/null
fi
cmake --build "$host" --parallel "$jobs" --target quillon-svgtool quillon-sfx-icongen quillon-cli

# Quillon for Windows bundles the reduced Windows 7-Zip console, 7zr.exe,
# built from Debian's 7zip source.
archiver="$("$root/scripts/build-7zr-windows.sh" | tail -n 1)"

cmake -S "$root" -B "$out" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DQUILLON_WERROR=ON \
    -DQUILLON_HOST_BUILD_DIR="$host" \
    -DQUILLON_ARCHIVER="$archiver" \
    -DQUILLON_QT_PREFIX="$qt" \
    -DQUILLON_SCREENSHOT_DIR="$host/screenshots/windows" "$@" >/dev/null
cmake --build "$out" --parallel "$jobs"

dist="$out/dist"
version="$(sed -n 's/^project(Quillon VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
"$root/scripts/deploy-windows.sh" "$out" "$qt" "$dist/Quillon"
rm -f "$dist"/Quillon-*-windows-x64.zip
(cd "$dist" && zip -q -r -9 "Quillon-$version-windows-x64.zip" Quillon)

# Quillon packs itself: the program folder with Quillon.exe as main program.
rm -rf "$dist/portable"
mkdir -p "$dist/portable"
"$host/bin/quillon-cli" "$dist/Quillon" Quillon.exe "$dist/portable" --level 9 \
    --icon "$out/icons/logo.ico" >"$dist/portable.log" 2>&1
mv "$dist/portable/Quillon.exe" "$dist/QuillonPortable.exe"
rm -rf "$dist/portable"
du -sh "$dist/Quillon" "$dist/Quillon-$version-windows-x64.zip" "$dist/QuillonPortable.exe"
