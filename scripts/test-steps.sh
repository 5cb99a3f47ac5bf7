# Steps of the test command, sourced by scripts/test.sh (tests/scripts tries them out):
#   steps_begin; step NAME COMMAND...; ...; steps_report
# Each step's output is shown as it comes and kept until steps_report, which names the tests
# that passed only when ctest ran them again and, for each failed step, the lines of its output
# that tell why, repeated last: a long log is often read from its end only. steps_report's status
# is 0 when every step passed.

steps_begin() {
    failed_steps=()
    failed_logs=()
    step_start=$SECONDS
    steps_logs=$(mktemp -d "${TMPDIR:-/tmp}/glimmerly-test.XXXXXX")
    trap 'rm -rf "$steps_logs"' EXIT
}

# step NAME COMMAND...: runs the command, notes a failure and prints the time it took.
step() {
    local name=$1
    shift
    step_start=$SECONDS
    local log=$steps_logs/${name//[^a-z]/_}.log status=0 out copier i
    # Through a process substitution, not a pipe: a daemon a test leaves behind would hold a
    # pipe open and the step would never end.
    exec {out}> >(tee "$log")
    copier=$!
    "$@" >&"$out" 2>&1 || status=$?
    exec {out}>&-
    # tee ends when the step's last output is out (a few seconds at most, should a daemon hold
    # it open).
    for i in {1..50}; do
        kill -0 "$copier" 2>/dev/null || break
        sleep 0.1
    done
    if [ "$status" -eq 0 ]; then
        echo "test.sh: $name took $((SECONDS - step_start)) s"
    else
        failed_steps+=("$name")
        failed_logs+=("$log")
        echo "test.sh: $name FAILED after $((SECONDS - step_start)) s"
    fi
}

steps_report() {
    # ctest runs a failed test once more (--repeat until-pass:2): a desktop test can lose a race
    # with its X server or compositor, a wine process can fail to come up. A fault of the
    # program fails both runs, and a sanitizer's report fails its step however the second run
    # went; what passed only the second time is named here, so that it is seen.
    local again i
    again=$(cat "$steps_logs"/*.log 2>/dev/null |
        sed -n 's/^.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*\(Failed\|Timeout\|Exception\).*$/\1/p' |
        sort -u)
    if [ -n "$again" ]; then
        echo "test.sh: failed once, then run again:"
        printf '    %s\n' $again
    fi
    for i in "${!failed_steps[@]}"; do
        echo "test.sh: FAILED: ${failed_steps[$i]}"
        grep -E '\*\*\*|FAILED|[Ee]rror[: ]|reported in|not formatted|^  [^ ]' "${failed_logs[$i]}" |
            awk '{ line[NR] = $0 } END { for (n = 1; n <= NR; n++)
                     if (n <= 15 || n > NR - 25) print "    " line[n]; else if (n == 16) print "    ..." }'
    done
    [ ${#failed_steps[@]} -eq 0 ]
}
