#!/usr/bin/env bash
# Times glimmerly.exe under wine against its one-program floor. Not part of ctest.
#
#   bench/windows/run-windows.sh [ROUNDS]        (default 20 rounds, after 2 warm-up rounds each)
#
# Needs the Windows toolchain (scripts/windows/toolchain.sh). Builds print_floor.exe in
# $GLIMMERLY_WINDOWS_BENCH_DIR (default build-win-bench/, a Windows build of this folder alone),
# takes glimmerly.exe from the Windows build $GLIMMERLY_WINDOWS_BUILD_DIR (default build-win/,
# its app/glimmerly.exe; without one only the floor is timed), and road_wallpaper and road_press
# from the Linux build $GLIMMERLY_ROAD_BUILD_DIR (default build/). On a desktop of its own (the
# desktop test harness: Xvfb 3200 x 1080, openbox) with the benchmark picture as the root
# background, a wine prefix of its own and wine's Notepad in front, against a loopback receiver
# on the port of the Windows build's upload host:
#   floor: print_floor.exe (Print registered as a hot key, BitBlt of the virtual screen into a
#          kept DIB section, libjpeg quality 60 straight from its rows, the program's multipart
#          POST over Winsock), ROUNDS presses;
#   road:  glimmerly.exe with "Nur aktives Fenster speichern" unticked, ROUNDS presses;
# each round timed from the XTest press of Print (road_press) to the receiver holding the
# request's last byte and answering. Prints both medians, the JPEG sizes, the ratio road/floor,
# the time from `wine glimmerly.exe` to its main window being shown (median of 5 starts) and,
# when the Windows build packs (scripts/windows/package.sh), the sizes of the installer and zip.
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
    echo "run-windows: desktop picture not found; set GLIMMERLY_DESKTOP_PNG" >&2
    exit 1
fi

prefix=$("$top/scripts/windows/toolchain.sh")
bench=${GLIMMERLY_WINDOWS_BENCH_DIR:-$top/build-win-bench}
if [ ! -f "$bench/CMakeCache.txt" ]; then
    chrt -o 0 cmake -S "$top" -B "$bench" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$top/scripts/windows/mingw-w64.cmake" \
        -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix" \
        -DCMAKE_BUILD_TYPE=Release -DGLIMMERLY_ONLY=windows -DGLIMMERLY_BUILD_TESTS=OFF \
        -DGLIMMERLY_BUILD_BENCH=ON >/dev/null
fi
bench_build run-windows "$bench" print_floor
linux=${GLIMMERLY_ROAD_BUILD_DIR:-$top/build}
bench_build run-windows "$linux" road_wallpaper road_press

windows=${GLIMMERLY_WINDOWS_BUILD_DIR:-$top/build-win}
program=-
port=8461
if [ -f "$windows/app/glimmerly.exe" ]; then
    program=$windows/app/glimmerly.exe
    port=$(bench_upload_port run-windows "$windows")
fi

"$top/tests/desktop/harness.sh" /usr/bin/python3 "$top/bench/windows/windows_bench.py" \
    "$bench/bench/windows/print_floor.exe" "$program" "$prefix/bin" \
    "$linux" "$picture" "$rounds" "$port"

if [ "$program" != - ]; then
    out=$(mktemp -d)
    if "$top/scripts/windows/package.sh" "$windows" "$out" >"$out/log" 2>&1; then
        for f in "$out"/Glimmerly-*-setup.exe "$out"/Glimmerly-*-portable.zip; do
            printf '%s: %d bytes\n' "$(basename "$f")" "$(stat -c %s "$f")"
        done
    else
        echo "run-windows: packing failed:" >&2
        cat "$out/log" >&2
    fi
    rm -rf "$out"
fi
