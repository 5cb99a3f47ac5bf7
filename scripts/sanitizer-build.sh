# Sourced by test-sanitize.sh and test-tsan.sh: the build of a sanitizer folder and the reports
# that its instrumented processes leave behind. Expects $top (the source tree).

# sanitizer_build FOLDER SANITIZE ONLY: configures FOLDER with GLIMMERLY_SANITIZE=SANITIZE and
# GLIMMERLY_ONLY=ONLY and builds it. -O1 and line tables only: quicker to build than -O2 -g, and
# the reports still name file and line.
sanitizer_build() {
    cmake -S "$top" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DGLIMMERLY_SANITIZE="$2" \
        -DGLIMMERLY_ONLY="$3" -DGLIMMERLY_BUILD_BENCH=OFF >/dev/null
    cmake --build "$1" -j"$(nproc)"
}

# sanitizer_reports_clear FOLDER: an empty FOLDER for the next run's reports.
sanitizer_reports_clear() {
    rm -rf "$1"
    mkdir -p "$1"
}

# sanitizer_reports_check FOLDER SANITIZER: shows every report in FOLDER and fails when there
# is one.
sanitizer_reports_check() {
    local found=("$1"/report.*)
    [[ -e ${found[0]} ]] || return 0
    echo "$2 reported in ${#found[@]} process(es):"
    local report
    for report in "${found[@]}"; do
        echo "---- $report"
        head -n 80 "$report"
    done
    return 1
}
