#!/usr/bin/env bash
# Times the road from Print to upload against its in-process floor. Not part of ctest.
#
#   bench/road/run-road.sh [ROUNDS]        (default 20 rounds, after 2 warm-up rounds each)
#
# Builds glimmerly and the three helpers of this folder in $GLIMMERLY_ROAD_BUILD_DIR (default
# build/, configured as RelWithDebInfo when missing), then on a desktop of its own (the desktop
# test harness: Xvfb 3200 x 1080 with two monitors, openbox) shows the benchmark picture as the
# root background and, against a loopback receiver on the port of the build's upload host:
#   floor: road_floor (Print grabbed on the root, the root copied into a kept MIT-SHM segment,
#          libjpeg quality 60 straight from the server's BGRX rows, the same multipart POST over
#          a plain socket), ROUNDS presses;
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

. "$top/bench/common.sh"
picture=$(bench_picture)
if [ -z "$picture" ]; then
    echo "run-road: desktop picture not found; set GLIMMERLY_DESKTOP_PNG" >&2
    exit 1
fi

build=${GLIMMERLY_ROAD_BUILD_DIR:-$top/build}
bench_build run-road "$build" glimmerly road_floor road_press road_wallpaper
# The receiver takes the port of the build's upload host, which must be on this machine.
port=$(bench_upload_port run-road "$build")

exec "$top/tests/desktop/harness.sh" /usr/bin/python3 "$top/bench/road/road_bench.py" \
    "$build" "$picture" "$rounds" "$port"
