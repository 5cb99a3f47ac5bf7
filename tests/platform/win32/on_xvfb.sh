#!/bin/sh
# Runs a command on an X server of its own (Xvfb on the first free display from :77 on), for
# Windows programs under wine that need a display.
set -eu
display=77
while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do
    display=$((display + 1))
done
Xvfb :$display -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
tries=0
while [ ! -e /tmp/.X11-unix/X$display ] && [ $tries -lt 100 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
DISPLAY=:$display "$@"
