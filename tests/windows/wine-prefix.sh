#!/bin/sh
# Makes the Wine prefix $WINEPREFIX once, with a CJK font in its Fonts folder
# (the window's texts are Chinese).
set -eu
font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 300 wineboot -i >/dev/null 2>&1 || true
    timeout 120 wineserver -w || true
fi
[ -f "$WINEPREFIX/system.reg" ] || { echo "wine-prefix: cannot make $WINEPREFIX" >&2; exit 1; }
fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [ -f "$font" ] && [ ! -f "$fonts/wqy-microhei.ttc" ]; then
    mkdir -p "$fonts"
    cp "$font" "$fonts/"
fi
