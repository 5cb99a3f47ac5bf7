#!/usr/bin/env bash
# Times the road from Print to upload against its in-process floor. Not part of ctest.
#
#   bench/road/run-road.sh [ROUNDS]        (default 20 rounds, after 2 warm-up rounds each)
#
# Builds glimmerly and the three helpers of this folder in $GLIMMERLY_ROAD_BUILD_DIR (default
# build/, configured as RelWithDebInfo when missing), then on a desktop of its own (the desktop
# test harness: Xvfb 3200 x 1080 with two monitors, openbox) shows the benchmark picture as the
# root background and, against a loopback receiver on the port of the build's upload host:
#   floor: road_floor (Print grabbed on the root, one xcb_get_image, RGB, libjpeg quality 60,
#          the same multipart POST over a plain socket), ROUNDS presses;
#   road:  the real glimmerly with "Nur aktives Fenster speichern" unticked, ROUNDS presses.
# Each round is timed from the XTest key press to the last byte of the upload at the receiver.
# Prints both medians, the JPEG sizes (both must stay under 307200 bytes: one encoding) and the
# ratio road/floor. On a machine busy with other work the rounds scatter widely; as root,
# `chrt -f 10 bench/road/run-road.sh` gives the run real-time priority for its minute or so and
# steady medians. Where unshare(1) may make a network namespace, the run gets a loopback of its
# own, so the upload port never meets another run or test. The picture is $GLIMMERLY_DESKTOP_PNG,
# else shared/assets/desktop-3840x1080.png beside the clone (or /work/shared/assets).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
rounds=${1:-20}

if [ -z "${ROAD_IN_NETNS:-}" ] && unshare -n true 2>/dev/null; then
    exec env ROAD_IN_NETNS=1 unshare -n "$0" "$@"
fi
if [ -n "${ROAD_IN_NETNS:-}" ]; then
    ip link set lo up
fi

picture=${GLIMMERLY_DESKTOP_PNG:-}
if [ -z "$picture" ]; then
    for candidate in "$top/../shared/assets/desktop-3840x1080.png" \
        /work/shared/assets/desktop-3840x1080.png; do
        if [ -f "$candidate" ]; then
            picture=$candidate
            break
        fi
    done
fi
if [ -z "$picture" ] || [ ! -f "$picture" ]; then
    echo "run-road: desktop picture not found; set GLIMMERLY_DESKTOP_PNG" >&2
    exit 1
fi

build=${GLIMMERLY_ROAD_BUILD_DIR:-$top/build}
# The build runs at normal priority even when the run was given a real-time one.
if [ ! -f "$build/CMakeCache.txt" ]; then
    chrt -o 0 cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
log=$(mktemp)
if ! chrt -o 0 cmake --build "$build" --target glimmerly road_floor road_press road_wallpaper \
    >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "run-road: the build failed" >&2
    exit 1
fi
rm -f "$log"

# The receiver takes the port of the build's upload host, which must be on this machine.
host=$(sed -n 's/^GLIMMERLY_UPLOAD_HOST:[A-Z]*=//p' "$build/CMakeCache.txt")
case "$host" in
localhost:* | 127.0.0.1:*) port=${host##*:} ;;
*)
    echo "run-road: the build uploads to $host, not to a port on loopback" >&2
    exit 1
    ;;
esac

exec "$top/tests/desktop/harness.sh" /usr/bin/python3 "$top/bench/road/road_bench.py" \
    "$build" "$picture" "$rounds" "$port"
