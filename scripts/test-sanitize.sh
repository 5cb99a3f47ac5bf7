#!/usr/bin/env bash
# Builds the Qt-free parts (the text routines and codec, imaging, the codecs, net, the POSIX
# platform parts, the server protocol and upload job) with AddressSanitizer and UndefinedBehaviorSanitizer
# into a folder of its own and runs their tests (ctest label "sanitize"). Arguments go to ctest.
# Folder: $GLIMMERLY_SANITIZE_BUILD_DIR, else the main build folder's name plus "-sanitize"
# (build-sanitize/ by default).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${GLIMMERLY_SANITIZE_BUILD_DIR:-${GLIMMERLY_BUILD_DIR:-$top/build}-sanitize}

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMERLY_SANITIZE=ON \
    -DGLIMMERLY_ONLY="text;imaging;codecs;net;platform;upload" -DGLIMMERLY_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"

# LeakSanitizer works as root in this sandbox and on CI; any leak fails the test.
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 600 -L sanitize "$@"
