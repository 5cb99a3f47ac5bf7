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

failed=0
failed_steps=()
failed_logs=()
# Each step's output is kept until the end, where the lines that tell why a step failed are
# repeated: a long log is often read from its end only.
logs=$(mktemp -d "${TMPDIR:-/tmp}/glimmerly-test.XXXXXX")
trap 'rm -rf "$logs"' EXIT
started=$SECONDS
step_start=$SECONDS
# step NAME COMMAND...: runs the command, notes a failure and prints the time it took.
step() {
    local name=$1
    shift
    step_start=$SECONDS
    local log=$logs/${name//[^a-z]/_}.log status=0 out copier i
    # Through a process substitution, not a pipe: a daemon a test leaves behind would hold a
    # pipe open and the step would never end.
    exec {out}> >(tee "$log")
    copier=$!
    "$@" >&"$out" 2>&1 || status=$?
    exec {out}>&-
    # tee ends when the step's last output is out (a few seconds at most, should a daemon hold
    # it open).
    for i in {1..50}; do
        kill -0 "$copier" 2>/dev/null || break
        sleep 0.1
    done
    if [ "$status" -eq 0 ]; then
        echo "test.sh: $name took $((SECONDS - step_start)) s"
    else
        failed=1
        failed_steps+=("$name")
        failed_logs+=("$log")
        echo "test.sh: $name FAILED after $((SECONDS - step_start)) s"
    fi
}
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
    # Off any desktop the command was started on, as in CI: Qt draws off screen there. A test
    # that fails is run once more: now and then a wine process does not come up at all when many
    # start at once (a test failing in 20 ms, or one waiting for ever); a fault of the program
    # fails both runs.
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
        ctest --output-on-failure -j"$(nproc)" --timeout 180 --repeat until-pass:2 ||
            { echo "test.sh: ctest under wine stopped; once more (a test program's listing may not have come up)"
              ctest --output-on-failure -j"$(nproc)" --timeout 180 --repeat until-pass:2; }) ||
        status=1
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
# A test that fails is run once more (a desktop test can lose a race with its X server or
# compositor, a wine process can fail to come up); a fault of the program fails both runs, and a
# sanitizer's report fails its step however the second run went. What passed only the second
# time is named here, so that it is seen.
again=$(cat "$logs"/*.log 2>/dev/null | sed -n 's/^.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*\(Failed\|Timeout\|Exception\).*$/\1/p' |
    sort -u)
if [ -n "$again" ]; then
    echo "test.sh: failed once, then run again:"
    printf '    %s\n' $again
fi
# Repeated last, where a reader of a long log looks first.
for i in "${!failed_steps[@]}"; do
    echo "test.sh: FAILED: ${failed_steps[$i]}"
    grep -E '\*\*\*|FAILED|[Ee]rror[: ]|reported in|not formatted|^  [^ ]' "${failed_logs[$i]}" |
        awk '{ line[NR] = $0 } END { for (n = 1; n <= NR; n++)
                 if (n <= 15 || n > NR - 25) print "    " line[n]; else if (n == 16) print "    ..." }'
done
exit $failed
