#!/usr/bin/env bash
# The Windows program as a user meets it, under Wine on a virtual display:
#   dist.sh DIST_DIR SCREENSHOT_DIR
# Quillon.exe from the program folder starts and shows its window in each
# interface language (the language set in the registry, as the window stores
# it); each window is saved as SCREENSHOT_DIR/window_<code>.png. Then
# QuillonPortable.exe starts, unpacks, shows the same window, and returns
# Quillon's exit code once the window is closed, leaving no folder behind.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dist="$1"
shots="$2"
export WINEPREFIX="${WINEPREFIX:?}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
"$here/wine-prefix.sh"
mkdir -p "$shots"
for tool in xdotool import Xvfb; do
    command -v "$tool" >/dev/null || { echo "dist: $tool missing" >&2; exit 1; }
done

display=""
for n in $(seq 180 199); do
    if [ ! -e "/tmp/.X$n-lock" ]; then
        display=":$n"
        break
    fi
done
[ -n "$display" ] || { echo "dist: no free display" >&2; exit 1; }
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
program=""
cleanup() {
    [ -z "$program" ] || kill "$program" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY="$display"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The id of the visible window titled Quillon, waiting up to $1 seconds.
window_of() {
    local id=""
    for _ in $(seq $(($1 * 2))); do
        id="$(xdotool search --onlyvisible --name '^Quillon$' 2>/dev/null | head -n 1 || true)"
        [ -n "$id" ] && break
        sleep 0.5
    done
    echo "$id"
}

# Closes the window as the system would (WM_CLOSE) and waits for the program.
close_and_wait() {
    wine taskkill /im Quillon.exe >/dev/null 2>&1 || true
    local status=0
    wait "$program" || status=$?
    program=""
    return "$status"
}

key='HKCU\Software\Vumo\Quillon'
for code in zh_CN zh_TW en_US; do
    wine reg add "$key" /v language /t REG_SZ /d "$code" /f >/dev/null 2>&1
    wine "$dist/Quillon/Quillon.exe" >/dev/null 2>&1 &
    program=$!
    id="$(window_of 90)"
    if [ -z "$id" ]; then
        fail "Quillon.exe ($code) showed no window"
        close_and_wait || true
        continue
    fi
    sleep 3
    import -window "$id" "$shots/window_$code.png"
    # A drawn window has many colours; an empty or failed one has a few.
    colours="$(convert "$shots/window_$code.png" -format '%k' info:)"
    [ "$colours" -gt 50 ] || fail "Quillon.exe ($code): the window holds $colours colours"
    status=0
    close_and_wait || status=$?
    [ "$status" -eq 0 ] || fail "Quillon.exe ($code) exited with $status"
    echo "Quillon.exe ($code): window $(xdotool getwindowgeometry "$id" 2>/dev/null | sed -n 's/.*Geometry: //p'), $colours colours"
done
# The languages differ on screen.
if cmp -s "$shots/window_zh_CN.png" "$shots/window_en_US.png"; then
    fail "the zh_CN and en_US windows are the same picture"
fi

# QuillonPortable.exe: the temporary folder it unpacks to is gone afterwards.
temp="$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)"
before="$(ls -1 "$temp" 2>/dev/null | sort || true)"
wine "$dist/QuillonPortable.exe" >/dev/null 2>&1 &
program=$!
id="$(window_of 180)"
if [ -z "$id" ]; then
    fail "QuillonPortable.exe showed no Quillon window"
    close_and_wait || true
else
    sleep 3
    import -window "$id" "$shots/window_portable.png"
    status=0
    close_and_wait || status=$?
    [ "$status" -eq 0 ] || fail "QuillonPortable.exe exited with $status"
    wineserver -w
    after="$(ls -1 "$temp" 2>/dev/null | sort || true)"
    [ "$before" = "$after" ] || fail "QuillonPortable.exe left $(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')"
    echo "QuillonPortable.exe: window shown, exit status 0"
fi
[ "$failures" -eq 0 ]
