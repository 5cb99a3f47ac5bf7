#!/usr/bin/env bash
# The one command that runs every test: installs the packages, checks the formatting, builds and
# runs ctest, then builds the program again with AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/test-sanitize.sh) and the threaded parts without Qt with ThreadSanitizer
# (scripts/test-tsan.sh) and runs their tests. Each sanitizer build has a folder of its own.
# Desktop tests start their own Xvfb + openbox through tests/desktop's harness; service tests
# start their own stand-in service on 127.0.0.1. Last comes the Windows build
# (scripts/windows/build.sh; the first time on a machine it builds Qt for Windows, afterwards
# it takes that from the cache) with its tests under wine. Everything is stopped again
# afterwards.
# Arguments go to the main ctest run. Any failing step makes the exit code non-zero; each step
# still runs and says how long it took. GLIMMERLY_TEST_STEPS names the steps to run (format,
# main, sanitize, tsan, windows; default all of them).
set -uo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/bootstrap.sh" || exit 1
# PostgreSQL is among the packages: its half of the service tests must run, not skip.
export GLIMMERLY_REQUIRE_POSTGRES=1

. "$top/scripts/test-steps.sh"
steps_begin
started=$SECONDS

main_tests() {
    "$top/scripts/build.sh" || return 1
    echo "test.sh: build took $((SECONDS - step_start)) s"
    (cd "${GLIMMERLY_BUILD_DIR:-$top/build}" &&
        ctest --output-on-failure -j"$(nproc)" --timeout 600 --repeat until-pass:2 "$@")
}

# The Windows build and its tests under wine, each test program on the wine prefix that
# scripts/windows/wine-prefix.sh prepares; the desktop tests start an X server and a prefix of
# their own (tests/support/windows/on_two_monitors.sh). The wineservers of the prefix and of
# the desktop tests' prefixes are ended afterwards (those end with their tests, but not when
# ctest had to kill a test), so that no wine process outlives the step.
windows_tests() (
    # The road test under wine uploads to the Linux build's stand-in service.
    "$top/scripts/windows/build.sh" \
        -DGLIMMERLY_HOST_SERVICE="${GLIMMERLY_BUILD_DIR:-$top/build}/service/glimmerly-service" ||
        exit 1
    echo "test.sh: windows build took $((SECONDS - step_start)) s"
    WINEPREFIX=$("$top/scripts/windows/wine-prefix.sh") || exit 1
    export WINEPREFIX
    # Off any desktop the command was started on, as in CI: Qt draws off screen there.
    unset DISPLAY WAYLAND_DISPLAY
    # One wineserver for the whole run: left to itself it ends a few seconds after its last
    # process, and a test program starting in that moment loses its connection ("recvmsg:
    # Connection reset by peer") and fails at once. Wine's own services are started once here,
    # away from ctest's output: started by the first test program they would inherit its output
    # and, living as long as the server, keep ctest waiting for its end.
    wineserver -p
    WINEDEBUG=-all wine cmd /c exit </dev/null >/dev/null 2>&1
    status=0
    (cd "${GLIMMERLY_WINDOWS_BUILD_DIR:-$top/build-win}" &&
        ctest --output-on-failure -j"$(nproc)" --timeout 180 --repeat until-pass:2) || status=1
    for prefix in "$WINEPREFIX" "$WINEPREFIX"-x*; do
        [ -d "$prefix" ] || continue
        WINEPREFIX=$prefix wineserver -k 2>/dev/null
        WINEPREFIX=$prefix wineserver -w 2>/dev/null
    done
    exit $status
)

# wanted NAME: whether the step NAME is among GLIMMERLY_TEST_STEPS (all when unset).
wanted() {
    [ -z "${GLIMMERLY_TEST_STEPS:-}" ] || [[ " $GLIMMERLY_TEST_STEPS " == *" $1 "* ]]
}

wanted format && step "format check" "$top/scripts/check-format.sh"
wanted main && step "build and ctest" main_tests "$@"
wanted sanitize && step "address and undefined-behaviour sanitizers" "$top/scripts/test-sanitize.sh"
wanted tsan && step "thread sanitizer" "$top/scripts/test-tsan.sh"
# Last: its first run on a machine builds the Windows toolchain for half an hour, and the other
# steps' results should not wait for that (nor be lost should CI's time run out).
wanted windows && step "windows build and tests under wine" windows_tests
echo "test.sh: all steps took $((SECONDS - started)) s"
steps_report
