#!/usr/bin/env bash
# The one command that runs every test: installs the packages, checks the formatting, builds and
# runs ctest, then builds the program again with AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/test-sanitize.sh) and the threaded parts without Qt with ThreadSanitizer
# (scripts/test-tsan.sh) and runs their tests. Each sanitizer build has a folder of its own.
# Desktop tests start their own Xvfb + openbox through tests/desktop's harness; service tests
# start their own stand-in service on 127.0.0.1. Everything is stopped again afterwards.
# Arguments go to the main ctest run. Any failing step makes the exit code non-zero; each step
# still runs and says how long it took.
set -uo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/bootstrap.sh" || exit 1
# PostgreSQL is among the packages: its half of the service tests must run, not skip.
export GLIMMERLY_REQUIRE_POSTGRES=1

failed=0
started=$SECONDS
step_start=$SECONDS
# step NAME COMMAND...: runs the command, notes a failure and prints the time it took.
step() {
    local name=$1
    shift
    step_start=$SECONDS
    "$@" || failed=1
    echo "test.sh: $name took $((SECONDS - step_start)) s"
}
main_tests() {
    "$top/scripts/build.sh" || return 1
    echo "test.sh: build took $((SECONDS - step_start)) s"
    (cd "${GLIMMERLY_BUILD_DIR:-$top/build}" &&
        ctest --output-on-failure -j"$(nproc)" --timeout 600 "$@")
}

step "format check" "$top/scripts/check-format.sh"
step "build and ctest" main_tests "$@"
step "address and undefined-behaviour sanitizers" "$top/scripts/test-sanitize.sh"
step "thread sanitizer" "$top/scripts/test-tsan.sh"
echo "test.sh: all steps took $((SECONDS - started)) s"
exit $failed
