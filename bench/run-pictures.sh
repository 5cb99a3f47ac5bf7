#!/usr/bin/env bash
# Builds the picture benchmarks (JPEG encoder vs cjpeg, Stretch vs Pillow) in Release and prints
# their timings as ratios against the references measured in the same run. Not part of ctest.
#
#   bench/run-pictures.sh [DESKTOP.png]
# The picture defaults to $GLIMMERLY_DESKTOP_PNG, else shared/assets/desktop-3840x1080.png beside
# the clone (or /work/shared/assets). Needs cjpeg (libjpeg-turbo-progs) and Pillow (python3-pil).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/bootstrap.sh"
. "$top/bench/common.sh"
picture=$(bench_picture "${1:-}")
if [ -z "$picture" ]; then
    echo "run-pictures: desktop picture not found; pass its path as the first argument" >&2
    exit 1
fi
build=${GLIMMERLY_BENCH_BUILD_DIR:-$top/build-bench}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGLIMMERLY_BUILD_TESTS=OFF \
    >/dev/null
cmake --build "$build" --target jpeg_bench stretch_bench >/dev/null
# Debian's Python with Pillow, not whatever python3 comes first on PATH.
exec /usr/bin/python3 "$top/bench/pictures_bench.py" "$build" "$picture"
