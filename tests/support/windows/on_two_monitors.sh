#!/bin/sh
# Runs a Windows program under wine on an X server of its own with two monitors:
#   on_two_monitors.sh COMMAND [ARG...]
# Xorg with the dummy driver (two_monitors.conf): the primary 1280 x 800 and left of it a second
# monitor of 1024 x 768, which Windows places at -1024,0. Xvfb cannot serve here: monitors added
# to it with xrandr --setmonitor are not seen by wine. Xorg picks a free display itself
# (-displayfd), leaves the console's terminals alone (-sharevts -novtswitch: servers started
# side by side do not switch the console away from each other) and listens on its socket only.
# Wine processes of one prefix share one wineserver and with it one desktop, so the program gets
# a prefix of its own per display ($WINEPREFIX-x<display>, prepared once by
# scripts/windows/wine-prefix.sh and kept). The prefix's wineserver and the X server are stopped
# however the command ends; its exit code is the script's.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/glimmerly-wine-display-XXXXXX")
server=
prefix=
cleanup() {
    set +e
    if [ -n "$prefix" ]; then
        WINEPREFIX=$prefix wineserver -k 2>/dev/null
        WINEPREFIX=$prefix wineserver -w 2>/dev/null
    fi
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null
        wait "$server" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
fail() {
    echo "on_two_monitors.sh: $*" >&2
    [ -s "$work/xorg.log" ] && grep -E '^\[.*\(EE\)' "$work/xorg.log" | sed 's/^/  Xorg: /' >&2
    exit 1
}

# setpriv --pdeathsig: should this script be killed outright (no trap runs then), the server
# still goes with it.
exec 3>"$work/display"
setpriv --pdeathsig KILL Xorg -config "$here/two_monitors.conf" -noreset \
    -nolisten tcp -sharevts -novtswitch -logfile "$work/xorg.log" -displayfd 3 \
    >"$work/xorg.out" 2>&1 &
server=$!
exec 3>&-
tries=0
while [ ! -s "$work/display" ]; do
    kill -0 "$server" 2>/dev/null || fail "Xorg did not start"
    [ $tries -lt 200 ] || fail "Xorg did not report its display"
    sleep 0.05
    tries=$((tries + 1))
done
display=$(tr -d '\n' <"$work/display")

prefix=$("$top/scripts/windows/wine-prefix.sh" "${WINEPREFIX:-$HOME/.wine}-x$display")
export WINEPREFIX="$prefix" DISPLAY=":$display"
status=0
"$@" || status=$?
exit $status
