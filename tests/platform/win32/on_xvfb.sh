#!/bin/sh
# Runs a Windows program under wine on an X server of its own (Xvfb on the first free display
# from :77 on). Wine processes of one prefix share one wineserver and with it one desktop, so the
# program gets a prefix of its own per display too ($WINEPREFIX-x<display>, made on first use and
# kept): a run elsewhere with the common prefix cannot put its windows on this screen.
set -eu
display=77
while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do
    display=$((display + 1))
done
Xvfb :$display -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
server=$!
WINEPREFIX="${WINEPREFIX:-$HOME/.wine}-x$display"
export WINEPREFIX DISPLAY=:$display
trap 'wineserver -k 2>/dev/null || true; kill $server 2>/dev/null || true' EXIT
tries=0
while [ ! -e /tmp/.X11-unix/X$display ] && [ $tries -lt 100 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
if [ ! -e "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
"$@"
