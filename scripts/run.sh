#!/usr/bin/env bash
# Builds Glimmerly, starts the stand-in web service on loopback (service host 8460, upload host
# 8461, the client's built-in hosts) and runs the program. Without a display it runs a headless
# demonstration under Xvfb instead: one capture and upload, then it prints the picture's address
# and where the service stored it. The service is stopped again when the program ends.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/bootstrap.sh"
"$top/scripts/build.sh"
build=${GLIMMERLY_BUILD_DIR:-$top/build}

log=$(mktemp)
"$build/service/glimmerly-service" "$@" >"$log" 2>&1 &
service=$!
trap 'kill "$service" 2>/dev/null; wait "$service" 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 100); do
    grep -q '^glimmerly-service: service' "$log" && break
    if ! kill -0 "$service" 2>/dev/null; then
        cat "$log" >&2
        echo "run: the stand-in service did not start (ports 8460/8461 in use?)" >&2
        exit 1
    fi
    sleep 0.1
done
ready=$(grep '^glimmerly-service: service' "$log")
echo "$ready"
data=${ready##* data }

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    "$build/app/glimmerly"
else
    echo "run: no display; running the headless demonstration under Xvfb"
    "$top/tests/desktop/harness.sh" /usr/bin/python3 "$top/scripts/demo.py" \
        "$build/app/glimmerly" "$data"
fi
