#!/usr/bin/env bash
# Runs a command on a test desktop of its own and returns the command's exit code:
#   tests/desktop/harness.sh [--no-wm] <command> [<arg>...]
# The desktop is Xvfb on a free display (3200 × 1080, 24 bits, -noreset so the monitors stay),
# two monitors side by side set with xrandr (M1 1920 × 1080 at 0,0 and M2 1280 × 1024 at
# 1920,0), and openbox with Debian's configuration minus its Print bindings (so Print reaches
# the program under test). --no-wm leaves the window manager out. DISPLAY and a private
# XDG_RUNTIME_DIR are exported for the command. Xvfb and openbox are stopped again however the
# command ends. GLIMMERLY_XVFB_ARGS adds arguments for Xvfb (e.g. "-extension MIT-SHM").
set -euo pipefail

with_wm=1
if [ "${1:-}" = "--no-wm" ]; then
    with_wm=0
    shift
fi
if [ $# -eq 0 ]; then
    echo "usage: $0 [--no-wm] <command> [<arg>...]" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/glimmerly-desktop-XXXXXX")
xvfb_pid=
wm_pid=
cleanup() {
    set +e
    if [ -n "$wm_pid" ]; then
        kill "$wm_pid" 2>/dev/null
        wait "$wm_pid" 2>/dev/null
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

fail() {
    echo "harness: $*" >&2
    [ -s "$work/xvfb.log" ] && sed 's/^/harness: Xvfb: /' "$work/xvfb.log" >&2
    exit 1
}

# Xvfb picks a free display itself and writes its number to the given descriptor, so
# parallel runs never race for the same one.
# setpriv --pdeathsig: should the harness itself be killed outright (no trap runs then), the
# server and the window manager still go with it.
exec 3>"$work/display"
setpriv --pdeathsig KILL Xvfb -displayfd 3 -screen 0 3200x1080x24 -noreset -nolisten tcp \
    ${GLIMMERLY_XVFB_ARGS:-} >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start"
    sleep 0.05
done
[ -s "$work/display" ] || fail "Xvfb did not report its display"
export DISPLAY=":$(head -n1 "$work/display")"
# A runtime folder of its own, so that programs under test on parallel desktops neither share
# their single-instance lock nor complain about a missing one.
mkdir -m 0700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"

xrandr --setmonitor M1 1920/508x1080/286+0+0 screen >/dev/null
xrandr --setmonitor M2 1280/339x1024/271+1920+0 none >/dev/null

if [ "$with_wm" = 1 ]; then
    rc=/etc/xdg/openbox/rc.xml
    [ -r "$rc" ] || fail "no openbox configuration at $rc"
    sed '/<keybind key="[^"]*Print">/,/<\/keybind>/d' "$rc" >"$work/rc.xml"
    # openbox keeps its session files under the configuration folders; give it private ones.
    XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data" \
        setpriv --pdeathsig KILL openbox --config-file "$work/rc.xml" >"$work/openbox.log" 2>&1 &
    wm_pid=$!
    for _ in $(seq 100); do
        if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
            break
        fi
        kill -0 "$wm_pid" 2>/dev/null || fail "openbox did not start: $(cat "$work/openbox.log")"
        sleep 0.05
    done
    xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' || fail "openbox did not start"
fi

set +e
"$@"
status=$?
set -e
exit "$status"
