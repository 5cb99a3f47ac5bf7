#!/usr/bin/env bash
# Builds the program with AddressSanitizer (leaks included) and UndefinedBehaviorSanitizer into a
# folder of its own and runs the tests of every part: the text routines and codec, imaging, the
# codecs, net, the platform parts, the upload job, the editor, the app with its job and window
# threads (the widget tests on Qt's offscreen platform) and the stand-in service (its tests start
# the instrumented glimmerly-service as a process of its own). Qt and the system libraries are not
# instrumented, which these two sanitizers do not need. Not here: the tests that need a desktop
# (labels desktop, wayland) and the fuzz run, which has sanitizers of its own.
#
# Every instrumented process writes its reports to <build>/sanitizer-reports/; any report there
# fails the run, also one from a service process whose test did not look at its exit status.
# Arguments go to ctest. Folder: $GLIMMERLY_SANITIZE_BUILD_DIR, else the main build folder's name
# plus "-sanitize" (build-sanitize/ by default).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${GLIMMERLY_SANITIZE_BUILD_DIR:-${GLIMMERLY_BUILD_DIR:-$top/build}-sanitize}

source "$top/scripts/sanitizer-build.sh"
sanitizer_build "$build" ON "text;imaging;codecs;net;platform;upload;editor;resources;app;service"

reports=$build/sanitizer-reports
sanitizer_reports_clear "$reports"
# LeakSanitizer works as root in this sandbox and on CI; any leak fails the test. Qt, fontconfig
# and glib keep what they allocate once reachable from their globals, so no suppression is needed.
# detect_stack_use_after_return: a local used after its function returned is caught too (say, by
# a routine queued for the window thread that refers into a caller which no longer waits).
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:\
strict_init_order=1:log_path=$reports/report
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$reports/report
status=0
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 600 --repeat until-pass:2 -LE "desktop|wayland|fuzz" "$@" || status=1
sanitizer_reports_check "$reports" "AddressSanitizer or UndefinedBehaviorSanitizer" || status=1
exit $status
