#!/usr/bin/env bash
# Prepares a wine prefix for Glimmerly's Windows programs, once, and prints its path:
#   wine-prefix.sh [PREFIX]     (default: the cache's own, as wine-run.sh uses it)
# A 64-bit prefix set to Windows 10, with the fonts of Debian's fonts-wine in its Fonts folder
# (without them Qt finds no sans-serif font there and falls back to a serif one). A prefix made
# by an earlier run is used as it is; two runs on one prefix wait for each other.
set -euo pipefail
cache=${GLIMMERLY_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/glimmerly-windows}
prefix=${1:-${WINEPREFIX:-$cache/wineprefix}}
fonts=/usr/share/wine/fonts
# Raise when the settings below change: prefixes made before are brought up to date.
recipe=1
marker=$prefix/.glimmerly-prefix

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ "$(cat "$marker" 2>/dev/null)" != "$recipe" ]; then
    export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
    # Made without a display: wine's own dialogs have nowhere to go.
    unset DISPLAY WAYLAND_DISPLAY
    wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win10 /f >/dev/null 2>&1
    mkdir -p "$prefix/drive_c/windows/Fonts"
    cp "$fonts"/* "$prefix/drive_c/windows/Fonts/"
    # The registry is written when the prefix's wineserver ends.
    wineserver -w
    grep -q '^"Version"="win10"' "$prefix/user.reg" || {
        echo "wine-prefix.sh: $prefix is not set to Windows 10" >&2
        exit 1
    }
    echo "$recipe" >"$marker"
fi
echo "$prefix"
