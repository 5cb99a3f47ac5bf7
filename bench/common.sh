# Shared by the benchmark scripts: source it after setting $top (the top of the tree).

# Prints the benchmark picture: $1 when given, else $GLIMMERLY_DESKTOP_PNG, else
# shared/assets/desktop-3840x1080.png beside the clone (or /work/shared/assets); nothing when none
# is found.
bench_picture() {
    local picture=${1:-${GLIMMERLY_DESKTOP_PNG:-}} candidate
    if [ -z "$picture" ]; then
        for candidate in "$top/../shared/assets/desktop-3840x1080.png" \
            /work/shared/assets/desktop-3840x1080.png; do
            if [ -f "$candidate" ]; then
                picture=$candidate
                break
            fi
        done
    fi
    if [ -n "$picture" ] && [ -f "$picture" ]; then
        echo "$picture"
    fi
}

# bench_build NAME BUILD TARGET...: configures BUILD as RelWithDebInfo when missing and builds the
# targets quietly, at normal priority even when the run was given a real-time one; shows the log
# and exits when the build fails.
bench_build() {
    local name=$1 build=$2 log
    shift 2
    if [ ! -f "$build/CMakeCache.txt" ]; then
        chrt -o 0 cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    log=$(mktemp)
    if ! chrt -o 0 cmake --build "$build" --target "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        echo "$name: the build failed" >&2
        exit 1
    fi
    rm -f "$log"
}

# bench_upload_port NAME BUILD: the port of the build's upload host, which must be on loopback.
bench_upload_port() {
    local host
    host=$(sed -n 's/^GLIMMERLY_UPLOAD_HOST:[A-Z]*=//p' "$2/CMakeCache.txt")
    case "$host" in
    localhost:* | 127.0.0.1:*) echo "${host##*:}" ;;
    *)
        echo "$1: the build uploads to $host, not to a port on loopback" >&2
        exit 1
        ;;
    esac
}
