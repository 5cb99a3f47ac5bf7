#!/bin/sh
# Runs a Windows program under wine on a two-monitor X server of its own (the shared script in
# tests/support/windows).
exec "$(dirname "$0")/../../support/windows/on_two_monitors.sh" "$@"
