#!/usr/bin/env bash
# Installs what the tests need, checks the formatting, builds Quillon, runs
# each fuzz target briefly and the plain C++ tests under AddressSanitizer and
# UBSan, then runs every test with ctest. Last, Quillon for Windows: cross-built
# (scripts/build-windows.sh) and its tests run under Wine (tests/windows/).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup-deps.sh" build test package qt-windows
# Source indexes for apt-get source, before anything below runs apt at once.
"$root/scripts/apt-sources.sh"

# Qt for Windows is built once into $QUILLON_CACHE (15 to 30 minutes). On a
# machine without it the build starts now, beside the Linux steps, whose
# single-threaded stretches (fuzzing, tests under Wine) leave a processor
# free; scripts/build-windows.sh below waits for it.
mkdir -p "$root/build"
"$root/scripts/build-qt-windows.sh" >"$root/build/qt-windows.log" 2>&1 &
qt_build=$!

"$root/scripts/format-check.sh"
"$root/scripts/build.sh" -DQUILLON_WERROR=ON
# The Qt-free parts built for Windows with mingw-w64, warnings as errors.
QUILLON_CROSS_DIR="$root/build/cross" "$root/scripts/cross-build.sh"

# One Wine prefix for the tests that run Windows programs, made once.
export WINEPREFIX="$root/build/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 300 wineboot -i >/dev/null 2>&1 || true
    timeout 60 wineserver -w || true
fi

"$root/scripts/fuzz.sh"
"$root/scripts/sanitize.sh"

cd "$root/build"
ctest --output-on-failure -j "$(nproc)" --timeout 900

if ! wait "$qt_build"; then
    tail -n 40 "$root/build/qt-windows.log" >&2
    echo "test: the Qt for Windows build failed (log: build/qt-windows.log)" >&2
    exit 1
fi
"$root/scripts/build-windows.sh"
# Every Windows test, under Wine.
ctest --test-dir "$root/build-win" --output-on-failure --timeout 900
