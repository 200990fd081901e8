#!/usr/bin/env bash
# Builds the 7-Zip reduced console archiver for Windows x86-64, 7zr.exe, from
# Debian's 7zip source package (scripts/fetch-7zip-source.sh) with mingw-w64,
# with the source's own makefile: static, optimised (-O2) and stripped. The
# result is kept in $QUILLON_CACHE/7zr-<source version>-<recipe hash>/, so a
# machine builds it once per source version and recipe. Prints the path of
# 7zr.exe on the last line of stdout; copies it to COPY_TO when given.
#
#   scripts/build-7zr-windows.sh [COPY_TO]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cache="${QUILLON_CACHE:-$HOME/.cache/quillon}"
jobs="${QUILLON_7ZR_JOBS:-$(nproc)}"
log() { echo "7zr-windows: $*" >&2; }

"$root/scripts/setup-deps.sh" windows >&2
source="$("$root/scripts/fetch-7zip-source.sh" | tail -n 1)"
version="$(basename "$source")"
version="${version#7zip-}"

cross=x86_64-w64-mingw32-
make_args=(-f ../../cmpl_gcc.mak IS_MINGW=1 "CROSS_COMPILE=$cross" "RC=${cross}windres" "LFLAGS_STRIP=-s")
compiler="$("${cross}g++" --version | head -n 1)"
recipe="$(printf '%s\n' "$version" "$compiler" "${make_args[@]}" | sha256sum | cut -c1-12)"
dest="$cache/7zr-$version-$recipe"
copy_to="${1:-}"
result() {
    if [ -n "$copy_to" ] && ! cmp -s "$dest/7zr.exe" "$copy_to"; then
        mkdir -p "$(dirname "$copy_to")"
        cp "$dest/7zr.exe" "$copy_to.part"
        mv "$copy_to.part" "$copy_to"
    fi
    echo "$dest/7zr.exe"
    exit 0
}
done_already() {
    if [ -f "$dest/.complete" ]; then
        log "using $dest/7zr.exe"
        result
    fi
}
done_already
exec 9>"$dest.lock"
flock 9
done_already

work="$dest.work"
rm -rf "$work" "$dest"
mkdir -p "$work"
cp -a "$source/C" "$source/CPP" "$work/"
bundle="$work/CPP/7zip/Bundles/Alone7z"
mkdir -p "$bundle/b"
start=$SECONDS
log "building 7zr.exe of 7zip $version"
make -C "$bundle" -j "$jobs" "${make_args[@]}" >"$work/build.log" 2>&1 || {
    tail -n 30 "$work/build.log" >&2
    log "the build failed (log: $work/build.log)"
    exit 1
}
exe="$bundle/b/g/7zr.exe"
file -b "$exe" | grep -q '^PE32+ executable .*x86-64' || { log "$exe is no Windows x86-64 program"; exit 1; }
mkdir -p "$dest"
cp "$exe" "$dest/7zr.exe"
touch "$dest/.complete"
rm -rf "$work"
log "built in $((SECONDS - start)) s"
result
