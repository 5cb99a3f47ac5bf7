#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each in turn.
#
#   run-fuzz.sh [SECONDS] [TARGET=SECONDS ...] [-runs=N] [TARGET ...]
#
# SECONDS (default 9) is each target's time; TARGET=SECONDS gives one target its own. With
# -runs=N every target runs until N inputs have been tried, bounded only by the seconds given
# explicitly. Bare target names run only those targets. A long run: run-fuzz.sh -runs=10000000
# Targets: http_response url cookies service_request service_multipart picture_name proxy_header
#          bmp jpeg
# Build folder: $GLIMMERLY_FUZZ_BUILD_DIR, else build-fuzz/ at the top of the tree. Inputs found
# along the way are kept in <build>/corpus/<target>; the seeds in tests/fuzz/seeds stay untouched.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
build=${GLIMMERLY_FUZZ_BUILD_DIR:-$top/build-fuzz}

all=(http_response url cookies service_request service_multipart picture_name proxy_header bmp
    jpeg)
declare -A seconds_of=() max_len=([service_request]=4096 [url]=4096 [picture_name]=1024 [proxy_header]=1024)
seconds=""
runs=""
chosen=()
for arg in "$@"; do
    case $arg in
    -runs=*) runs=${arg#-runs=} ;;
    *=*) seconds_of[${arg%%=*}]=${arg#*=} ;;
    *[!0-9]*) chosen+=("$arg") ;;
    *) seconds=$arg ;;
    esac
done
for target in "${!seconds_of[@]}" "${chosen[@]}"; do
    if [[ " ${all[*]} " != *" $target "* ]]; then
        echo "unknown fuzz target: $target (${all[*]})" >&2
        exit 2
    fi
done
[[ ${#chosen[@]} -gt 0 ]] || chosen=("${all[@]}")
[[ -n $seconds || -n $runs ]] || seconds=9

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" >/dev/null

status=0
for target in "${chosen[@]}"; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    limit=${seconds_of[$target]:-${seconds:-0}}
    options=(-max_total_time="$limit" -max_len="${max_len[$target]:-40000}" -timeout=10
        -rss_limit_mb=2048 -print_final_stats=1)
    [[ -z $runs ]] || options+=(-runs="$runs")
    echo "fuzz_$target: ${runs:+$runs runs, }${limit}s (0: no limit)"
    start=$SECONDS
    if ! "$build/fuzz_$target" "${options[@]}" "$corpus" "$here/seeds/$target" \
        2>"$build/fuzz_$target.log"; then
        tail -n 60 "$build/fuzz_$target.log"
        status=1
    fi
    echo "  took $((SECONDS - start))s"
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/fuzz_$target.log" || true
done
exit $status
