#!/usr/bin/env bash
# Peak memory of decoding the worst-case picture files, each in a process of its own.
#   bench/codecs/run-decode-memory.sh [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$top/build}
program=$build/bench/codecs/decode_memory
files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT
"$program" make "$files" >/dev/null
printf '%-28s %10s %8s %8s %7s  %s\n' file bytes "MiB pre" "MiB peak" seconds outcome
for f in "$files"/*; do
    "$program" measure "$f"
done
