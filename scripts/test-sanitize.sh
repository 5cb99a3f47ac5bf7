#!/usr/bin/env bash
# Builds the program's parts with AddressSanitizer (leaks included) and UndefinedBehaviorSanitizer
# into a folder of its own and runs their tests: the text routines and codec, imaging, the
# codecs, net, the platform parts, the upload job, the editor and the app with its job and window
# threads (the widget tests on Qt's offscreen platform). Qt and the system libraries are not
# instrumented, which these two sanitizers do not need.
# Not here: the tests that need a desktop (labels desktop, wayland) and the fuzz run, which has
# sanitizers of its own. The service runs under ThreadSanitizer (scripts/test-tsan.sh) and in the
# fuzz targets. Arguments go to ctest.
# Folder: $GLIMMERLY_SANITIZE_BUILD_DIR, else the main build folder's name plus "-sanitize"
# (build-sanitize/ by default).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${GLIMMERLY_SANITIZE_BUILD_DIR:-${GLIMMERLY_BUILD_DIR:-$top/build}-sanitize}

# -O1 and line tables only: quicker to build than -O2 -g, and the reports still name file and line.
flags="-O1 -g1 -DNDEBUG"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" -DGLIMMERLY_SANITIZE=ON \
    -DGLIMMERLY_ONLY="text;imaging;codecs;net;platform;upload;editor;resources;app" \
    -DGLIMMERLY_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"

# LeakSanitizer works as root in this sandbox and on CI; any leak fails the test. Qt, fontconfig
# and glib keep what they allocate once reachable from their globals, so no suppression is needed.
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 600 -LE "desktop|wayland|fuzz" "$@"
