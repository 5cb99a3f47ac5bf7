#!/usr/bin/env bash
# Builds the threaded parts without Qt with ThreadSanitizer into a folder of its own and runs
# their tests: the HTTP client's cancel and progress (net), the capture channel and single
# instance guard (platform), the upload job (upload) and the stand-in service with its server,
# watchdog and both stores (service; the service tests start the instrumented glimmerly-service
# as a process of its own). The codecs, imaging and the text routines come along as libraries
# those need, with their tests. Not here: the Qt parts and the tests that need a desktop.
#
# Every instrumented process writes its reports to <build>/tsan-reports/; any report there fails
# the run, also one from a service process whose test did not look at its exit status.
# Arguments go to ctest. Folder: $GLIMMERLY_TSAN_BUILD_DIR, else the main build folder's name
# plus "-tsan" (build-tsan/ by default).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${GLIMMERLY_TSAN_BUILD_DIR:-${GLIMMERLY_BUILD_DIR:-$top/build}-tsan}

source "$top/scripts/sanitizer-build.sh"
sanitizer_build "$build" thread "text;imaging;codecs;net;platform;upload;service"

reports=$build/tsan-reports
sanitizer_reports_clear "$reports"
export TSAN_OPTIONS="log_path=$reports/report second_deadlock_stack=1 history_size=4"
status=0
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 600 --repeat until-pass:2 -LE "desktop|wayland|fuzz" "$@" || status=1
sanitizer_reports_check "$reports" ThreadSanitizer || status=1
exit $status
