#!/usr/bin/env bash
# Runs a Windows program of the build under wine: the emulator CMake and ctest use.
#   wine-run.sh QT_BIN_DIR PROGRAM.exe [ARGS...]
# Qt's DLLs are found through WINEPATH; without a display Qt draws off screen. The wine prefix
# is the cache's own unless WINEPREFIX names one.
set -euo pipefail
qt_bin=$1
shift
cache=${GLIMMERLY_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/glimmerly-windows}
export WINEPREFIX=${WINEPREFIX:-$cache/wineprefix}
export WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
# Qt's plugins link the compiler's runtime DLLs (libstdc++, libgcc), which the programs carry
# inside themselves: they are found where the cross compiler keeps them.
gcc_dir=$(dirname "$(x86_64-w64-mingw32-gcc-posix -print-libgcc-file-name)")
export WINEPATH="$qt_bin;$gcc_dir${WINEPATH:+;$WINEPATH}"
[ -n "${DISPLAY:-}" ] || export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# A test program asked for its list of tests (ctest does that before each run) is asked again
# when it printed nothing: a wine process now and then does not come up while many start at
# once, and an empty list would stop the whole ctest run.
if [[ " $* " == *" --gtest_list_tests"* ]]; then
    for attempt in 1 2 3; do
        status=0
        listing=$(wine "$@") || status=$?
        if [ -n "$listing" ]; then
            printf '%s\n' "$listing"
            exit "$status"
        fi
        echo "wine-run.sh: $1 listed no tests (attempt $attempt, status $status)" >&2
    done
    # Nothing listed is a failure even when wine said 0: ctest would take it for no tests.
    exit $((status ? status : 1))
fi
exec wine "$@"
