#!/usr/bin/env bash
# The one command that runs every test: installs the packages, builds, and runs ctest.
# Desktop tests start their own Xvfb + openbox through tests/desktop's harness; service tests
# start their own stand-in service on 127.0.0.1. Everything is stopped again afterwards.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/bootstrap.sh"
"$top/scripts/build.sh"
cd "${GLIMMERLY_BUILD_DIR:-$top/build}"
ctest --output-on-failure -j"$(nproc)" --timeout 600 "$@"
