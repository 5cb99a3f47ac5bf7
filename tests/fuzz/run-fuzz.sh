#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each for the given number
# of seconds (default 12). A long run: tests/fuzz/run-fuzz.sh 600
# Build folder: $GLIMMERLY_FUZZ_BUILD_DIR, else build-fuzz/ at the top of the tree. Inputs found
# along the way are kept in <build>/corpus/<target>; the seeds in tests/fuzz/seeds stay untouched.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
seconds=${1:-12}
build=${GLIMMERLY_FUZZ_BUILD_DIR:-$top/build-fuzz}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" >/dev/null

status=0
for target in http_response cookies; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    echo "fuzz_$target: ${seconds}s"
    if ! "$build/fuzz_$target" -max_total_time="$seconds" -max_len=40000 -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 "$corpus" "$here/seeds/$target" \
        2>"$build/fuzz_$target.log"; then
        tail -n 60 "$build/fuzz_$target.log"
        status=1
    fi
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/fuzz_$target.log" || true
done
exit $status
