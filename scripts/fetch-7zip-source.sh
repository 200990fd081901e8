#!/usr/bin/env bash
# Fetches Debian's 7zip source package (7-Zip 26.x) once into
# $QUILLON_CACHE/7zip-<version>/ (default cache ~/.cache/quillon) and prints
# that folder on the last line of stdout. Its C/ folder holds the LZMA SDK
# sources the 7z reader compiles; scripts/build-7zr-windows.sh builds the
# Windows console archiver from it.
#
# The version must be 26.x; the downloaded files must match the SHA-256 sums
# of apt's signed source index. QUILLON_7ZIP_VERSION picks a version other
# than the newest one the mirror serves.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cache="${QUILLON_CACHE:-$HOME/.cache/quillon}"
log() { echo "7zip-source: $*" >&2; }

use() {
    echo "7zip-source: using $1" >&2
    echo "$1"
    exit 0
}

# An exact version asked for and cached needs no look at the mirror.
mkdir -p "$cache"
if [ -n "${QUILLON_7ZIP_VERSION:-}" ] && [ -f "$cache/7zip-$QUILLON_7ZIP_VERSION/.complete" ]; then
    use "$cache/7zip-$QUILLON_7ZIP_VERSION"
fi

"$root/scripts/apt-sources.sh"
version="${QUILLON_7ZIP_VERSION:-}"
[ -n "$version" ] || version="$(apt-cache showsrc 7zip | sed -n 's/^Version: \(.*\)$/\1/p' | sort -V | tail -n 1)"
# Debian numbers 7-Zip 26 as 22.01+really26.xx.
upstream="${version#*really}"
upstream="${upstream%%+*}"
upstream="${upstream%%-*}"
case "$upstream" in
    26.*) ;;
    *) log "the mirror serves 7zip $version, not 7-Zip 26.x"; exit 1 ;;
esac
dest="$cache/7zip-$version"
[ -f "$dest/.complete" ] && use "$dest"

exec 9>"$dest.lock"
flock 9
[ -f "$dest/.complete" ] && use "$dest"

work="$dest.work"
rm -rf "$work" "$dest"
mkdir -p "$work"
log "fetching 7zip $version"
(cd "$work" && apt-get source -q "7zip=$version" >&2)

# Every file of the source package against the signed index's sums.
sums="$(apt-cache showsrc 7zip | awk -v want="$version" '
    /^$/ {mine = 0; on = 0}
    /^Version: / {mine = ($2 == want)}
    /^Checksums-Sha256:/ {on = 1; next}
    /^[^ ]/ {on = 0}
    mine && on {print $1 "  " $3}' | sort -u)"
[ -n "$sums" ] || { log "no SHA-256 sums for 7zip $version"; exit 1; }
(cd "$work" && echo "$sums" | sha256sum --quiet -c -) || { log "checksum mismatch"; exit 1; }

tree="$(find "$work" -mindepth 1 -maxdepth 1 -type d -name '7zip-*' | head -n 1)"
[ -f "$tree/C/LzmaDec.c" ] && [ -f "$tree/C/7zVersion.h" ] || { log "no LZMA SDK sources in $tree"; exit 1; }
grep -q "MY_VERSION_NUMBERS \"$upstream\"" "$tree/C/7zVersion.h" || { log "$tree is not 7-Zip $upstream"; exit 1; }
mv "$tree" "$dest"
echo "$sums" >"$dest/.complete"
rm -rf "$work"
use "$dest"
