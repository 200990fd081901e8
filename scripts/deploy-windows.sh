#!/usr/bin/env bash
# Makes the Windows program folder from a cross build of Quillon:
#   deploy-windows.sh BUILD_DIR QT_PREFIX DEST
# Quillon.exe and quillon-cli.exe with every DLL they load (Qt's and the
# MinGW runtime, found by walking the import tables), the platform, image
# format, icon engine and style plugins, Qt's catalogues of the interface
# languages and a qt.conf that points Qt at this folder.
set -euo pipefail
build="$1"
qt="$2"
dest="$3"
objdump=x86_64-w64-mingw32-objdump
runtime_dirs=("$qt/bin" /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)

rm -rf "$dest"
mkdir -p "$dest"
cp "$build/bin/Quillon.exe" "$build/bin/quillon-cli.exe" "$dest/"
for plugin in platforms/qwindows imageformats/qico imageformats/qsvg iconengines/qsvgicon \
              styles/qwindowsvistastyle; do
    mkdir -p "$dest/$(dirname "$plugin")"
    cp "$qt/plugins/$plugin.dll" "$dest/$plugin.dll"
done

# The DLLs each file imports that are not part of Windows, until none is new.
pending=("$dest"/*.exe "$dest"/*/*.dll)
while [ ${#pending[@]} -gt 0 ]; do
    file="${pending[0]}"
    pending=("${pending[@]:1}")
    while read -r dll; do
        [ -f "$dest/$dll" ] && continue
        for dir in "${runtime_dirs[@]}"; do
            if [ -f "$dir/$dll" ]; then
                cp "$dir/$dll" "$dest/$dll"
                pending+=("$dest/$dll")
                break
            fi
        done
    done < <("$objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p')
done

# Debian's MinGW runtime DLLs carry their debugging symbols.
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    [ ! -f "$dest/$dll" ] || x86_64-w64-mingw32-strip --strip-unneeded "$dest/$dll"
done

# The language switch loads "qt_" + code from Qt's translations folder. That
# catalogue only names others (qtbase_ and qtmultimedia_ + code) and does not
# load unless every one of them is there.
mkdir -p "$dest/translations"
for code in zh_CN zh_TW en; do
    for catalogue in qt qtbase qtmultimedia; do
        cp "/usr/share/qt6/translations/${catalogue}_$code.qm" "$dest/translations/"
    done
done
printf '[Paths]\nPrefix = .\nPlugins = .\nTranslations = translations\n' >"$dest/qt.conf"
