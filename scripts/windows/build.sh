#!/usr/bin/env bash
# Builds Glimmerly for 64-bit Windows into build-win/ (or $GLIMMERLY_WINDOWS_BUILD_DIR): the
# toolchain first (scripts/windows/toolchain.sh: Qt, libjpeg-turbo and GoogleTest, built once
# per machine into a cache), then glimmerly.exe and the Windows test programs with the one
# toolchain file. ctest in the build folder runs the tests under wine. Further arguments go
# to CMake's configure step.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# The top-level folders built for Windows (GLIMMERLY_ONLY; tests/ and its sub-folders of the
# same names follow): all but the stand-in service, which is a Linux program.
folders="text;imaging;codecs;net;platform;upload;editor;resources;app;windows"

build=${GLIMMERLY_WINDOWS_BUILD_DIR:-$top/build-win}
prefix=$("$top/scripts/windows/toolchain.sh")
cmake -S "$top" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$top/scripts/windows/mingw-w64.cmake" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=${GLIMMERLY_BUILD_TYPE:-Release} -DGLIMMERLY_ONLY="$folders" \
    -DGLIMMERLY_BUILD_BENCH=OFF "$@" >/dev/null
cmake --build "$build" -j"${GLIMMERLY_WINDOWS_JOBS:-$(nproc)}"
