#!/usr/bin/env bash
# release_package: BUILD_DIR WORK_DIR VERSION WINDOWS_PROGRAM
# Makes the Debian package with CPack, checks what it declares and holds,
# unpacks it into a throw-away root and packs a folder with the quillon-cli
# found there, twice (the outputs must be the same bytes); quillon-unpack
# from the same root reads the output back.
set -euo pipefail
build=$1 work=$2 version=$3 program=$4
rm -rf "$work"
mkdir -p "$work/tmp" "$work/pkg"
fail() { echo "release_package: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
deb="$work/pkg/quillon_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $deb (made: $(ls "$work/pkg"))"

# What it declares: the Qt libraries and plugins' package, the archiver.
depends=$(dpkg-deb -f "$deb" Depends)
for want in libqt6core6 libqt6widgets6 libqt6svg6 7zip; do
    grep -qw "$want" <<<"$depends" || fail "Depends lacks $want: $depends"
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"

# What it holds.
dpkg-deb -x "$deb" "$work/root"
root=$work/root
for file in usr/bin/quillon usr/bin/quillon-cli usr/bin/quillon-unpack \
            usr/share/man/man1/quillon-cli.1.gz usr/share/man/man1/quillon-unpack.1.gz \
            usr/share/applications/quillon.desktop \
            usr/share/icons/hicolor/scalable/apps/quillon.svg; do
    [ -e "$root/$file" ] || fail "missing /$file"
done
for page in quillon-cli quillon-unpack; do
    warnings=$(man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
    man -l "$root/usr/share/man/man1/$page.1.gz" 2>/dev/null | grep -q "EXIT STATUS" ||
        fail "$page.1 does not render"
done

# The installed programs, run from the root.
for tool in quillon-cli quillon-unpack; do
    [ "$("$root/usr/bin/$tool" --version)" = "$tool $version" ] || fail "$tool --version"
done
mkdir -p "$work/src/lib"
# A real Windows program with an icon, so the output gets its icon and our
# version resource.
cp "$program" "$work/src/app.exe"
head -c 20000 /dev/zero >"$work/src/lib/data.bin"
for out in out again; do
    "$root/usr/bin/quillon-cli" "$work/src" app.exe "$work/$out" --level 1 >"$work/cli.log" 2>&1 ||
        { cat "$work/cli.log"; fail "quillon-cli failed"; }
done
grep -q '^成功从主程序提取图标$' "$work/cli.log" || fail "no icon taken: $(cat "$work/cli.log")"
cmp "$work/out/app.exe" "$work/again/app.exe" || fail "the same folder packed twice differs"
listing=$("$root/usr/bin/quillon-unpack" l "$work/out/app.exe")
grep -q ' lib/data.bin$' <<<"$listing" || fail "output lacks lib/data.bin: $listing"
"$root/usr/bin/quillon-unpack" t "$work/out/app.exe" >/dev/null || fail "output does not test"
echo "release_package: $(basename "$deb") $(stat -c %s "$deb") bytes, Depends: $depends"
