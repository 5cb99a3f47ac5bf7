#!/usr/bin/env bash
# Times Print to upload on a headless sway session, both grab routes, against a floor of grim,
# cjpeg and curl measured in the same run. Not part of ctest; needs root (the session runs as
# uid 65534 in namespaces of its own) and sway, grim, wtype, the portals.
#
#   bench/wayland/run-wayland.sh [ROUNDS]        (default 10 rounds, after 2 warm-up rounds each)
#
# Builds glimmerly in $GLIMMERLY_WAYLAND_BUILD_DIR (default build/, configured as RelWithDebInfo
# when missing). The outputs show $GLIMMERLY_DESKTOP_PNG, else shared/assets/desktop-3840x1080.png
# beside the clone (or /work/shared/assets), else plain colours. The run gets a loopback of its
# own where unshare(1) allows, so the upload port meets no other run or test. On a busy machine
# run it as `chrt -f 10 bench/wayland/run-wayland.sh`.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
rounds=${1:-10}
. "$top/bench/common.sh"

picture=$(bench_picture)

build=${GLIMMERLY_WAYLAND_BUILD_DIR:-$top/build}
bench_build run-wayland "$build" glimmerly
port=$(bench_upload_port run-wayland "$build")

exec /usr/bin/python3 "$top/bench/wayland/wayland_bench.py" "$build/app/glimmerly" "$rounds" \
    "$port" ${picture:+"$picture"}
