#!/usr/bin/env bash
# Builds Qt 6.4.2 for Windows x86-64 (qtbase and Qt SVG, shared, mingw-w64
# with posix threads) from Debian's source packages and installs it into
# $QUILLON_CACHE (default ~/.cache/quillon), in a folder named by the Qt
# version and a hash of the recipe, so a machine builds it once. Prints the
# install prefix on the last line of stdout.
#
# Qt SVG comes from `apt-get source qt6-svg`, or when the mirror does not
# serve it from the archive named by QUILLON_QTSVG_SOURCE.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cache="${QUILLON_CACHE:-$HOME/.cache/quillon}"
version=6.4.2
jobs="${QUILLON_QT_JOBS:-2}"
toolchain="$root/cmake/toolchains/mingw-w64-x86_64-posix.cmake"

options=(
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DBUILD_SHARED_LIBS=ON
    -DCMAKE_BUILD_TYPE=Release
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_network=OFF
    -DFEATURE_dbus=OFF
    -DFEATURE_opengl=OFF
    -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF
    # Debian's tarball has no wintab headers.
    -DFEATURE_tabletevent=OFF
    # Without OpenGL the windows platform plugin only compiles without dynamic GL.
    -DFEATURE_dynamicgl=OFF
)
compiler="$(x86_64-w64-mingw32-g++-posix --version | head -n 1)"
recipe="$(printf '%s\n' "$version" "$compiler" "${options[@]}" | cat - "$toolchain" | sha256sum | cut -c1-12)"
prefix="$cache/qt-$version-mingw64-$recipe"

mkdir -p "$cache"
done_already() {
    if [ -f "$prefix/.complete" ]; then
        echo "qt-windows: using $prefix"
        echo "$prefix"
        exit 0
    fi
}
done_already
# One build at a time: a second run waits for the first and then uses its
# result instead of clearing its work folder.
exec 9>"$cache/qt-$version-mingw64-$recipe.lock"
if ! flock -n 9; then
    echo "qt-windows: waiting for the build of $prefix in progress" >&2
    flock 9
fi
done_already

log() { echo "qt-windows: $*" >&2; }

# apt-get source needs a deb-src entry and dpkg-source.
"$root/scripts/setup-deps.sh" qt-windows
"$root/scripts/apt-sources.sh"

work="$cache/work-$version-$recipe"
rm -rf "$work"
mkdir -p "$work/src" "$prefix"
cd "$work/src"

log "fetching qtbase source"
apt-get source -q qt6-base="$(apt-cache showsrc qt6-base | sed -n 's/^Version: \(6\.4\.2[^ ]*\)$/\1/p' | head -n 1)" >&2
qtbase="$(find "$work/src" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)"
[ -n "$qtbase" ] || { log "no qtbase source"; exit 1; }

log "fetching Qt SVG source"
if apt-get source -q qt6-svg >&2 2>/dev/null && ls -d "$work"/src/qt6-svg-*/ >/dev/null 2>&1; then
    qtsvg="$(find "$work/src" -maxdepth 1 -type d -name 'qt6-svg-*' | head -n 1)"
else
    archive="${QUILLON_QTSVG_SOURCE:-}"
    if [ -z "$archive" ] || [ ! -f "$archive" ]; then
        log "apt-get source qt6-svg failed and QUILLON_QTSVG_SOURCE names no archive"
        exit 1
    fi
    log "Qt SVG from $archive"
    mkdir -p "$work/src/qtsvg"
    tar -xf "$archive" -C "$work/src/qtsvg" --strip-components=1
    qtsvg="$work/src/qtsvg"
fi
grep -q "$version" "$qtsvg/.cmake.conf" || { log "Qt SVG source is not $version"; exit 1; }

# The toolchain file is kept in the prefix: Qt's own toolchain file names it.
cp "$toolchain" "$prefix/mingw-w64-x86_64-posix.cmake"

start=$SECONDS
log "configuring qtbase"
cmake -G Ninja -S "$qtbase" -B "$work/qtbase-build" \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-w64-x86_64-posix.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}" >"$work/qtbase-configure.log"
log "building qtbase"
cmake --build "$work/qtbase-build" --parallel "$jobs" >&2
cmake --install "$work/qtbase-build" >/dev/null
log "qtbase took $(( (SECONDS - start) / 60 )) min"

start=$SECONDS
log "configuring Qt SVG"
cmake -G Ninja -S "$qtsvg" -B "$work/qtsvg-build" \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF >"$work/qtsvg-configure.log"
cmake --build "$work/qtsvg-build" --parallel "$jobs" >&2
cmake --install "$work/qtsvg-build" >/dev/null
log "Qt SVG took $(( (SECONDS - start) / 60 )) min"

touch "$prefix/.complete"
rm -rf "$work"
echo "$prefix"
