#!/usr/bin/env bash
# Builds Glimmerly and starts it against the stand-in web service on loopback.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/bootstrap.sh"
"$top/scripts/build.sh"
build=${GLIMMERLY_BUILD_DIR:-$top/build}
if [ ! -x "$build/app/glimmerly" ]; then
    echo "run: the main window (app/glimmerly) is not built yet; only the libraries and tests exist." >&2
    exit 1
fi
exec "$build/app/glimmerly"
