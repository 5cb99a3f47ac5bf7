#!/usr/bin/env bash
# The one command that runs every test: installs the packages, checks the formatting, builds and
# runs ctest, then builds the Qt-free parts again with the sanitizers and runs their tests.
# Desktop tests start their own Xvfb + openbox through tests/desktop's harness; service tests
# start their own stand-in service on 127.0.0.1. Everything is stopped again afterwards.
# Arguments go to the main ctest run. Any failing step makes the exit code non-zero; each step
# still runs, and the output ends with ctest's summary.
set -uo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/bootstrap.sh" || exit 1

failed=0
"$top/scripts/check-format.sh" || failed=1
if "$top/scripts/build.sh"; then
    (cd "${GLIMMERLY_BUILD_DIR:-$top/build}" &&
        ctest --output-on-failure -j"$(nproc)" --timeout 600 "$@") || failed=1
else
    failed=1
fi
"$top/scripts/test-sanitize.sh" || failed=1
exit $failed
