#!/bin/sh
# Runs a Windows program under wine on an X server of its own: Xvfb picks a free display itself
# (-displayfd), so a server somebody else started on a fixed number can never be taken for ours.
# Wine processes of one prefix share one wineserver and with it one desktop, so the program gets
# a prefix of its own per display too ($WINEPREFIX-x<display>, made on first use and kept): a run
# elsewhere with the common prefix cannot put its windows on this screen.
set -eu
ready=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$ready" >/dev/null 2>&1 &
server=$!
trap 'wineserver -k 2>/dev/null || true; kill $server 2>/dev/null || true; rm -f "$ready"' EXIT
tries=0
while [ ! -s "$ready" ] && [ $tries -lt 200 ]; do
    kill -0 $server 2>/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
    sleep 0.05
    tries=$((tries + 1))
done
display=$(tr -d '\n' <"$ready")
[ -n "$display" ] || { echo "Xvfb gave no display" >&2; exit 1; }
WINEPREFIX="${WINEPREFIX:-$HOME/.wine}-x$display"
export WINEPREFIX DISPLAY=:$display
if [ ! -e "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
"$@"
