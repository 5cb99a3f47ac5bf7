#!/usr/bin/env bash
# The test command's steps: a failed step is named at the end with why, a test that passed only
# when run again is named, a daemon holding a step's output does not hold up the step, and the
# report's status tells whether every step passed.
#   test_steps_test.sh scripts/test-steps.sh
set -uo pipefail
steps=$1
problems=0
fail() { echo "FAIL: $*"; problems=1; }

out=$(mktemp)
trap 'rm -f "$out"' EXIT
# Runs the given steps in a shell of their own; prints what it printed and its status last. The
# output goes through a file: a daemon holding it open would hold up a command substitution.
run_steps() {
    bash -c '. "$1"; shift; steps_begin; eval "$1"; steps_report; echo "status=$?"' _ "$steps" \
        "$1" >"$out" 2>&1
    sleep 0.2 # the copy of the last step's output
    cat "$out"
}

report=$(run_steps '
flaky() { echo " 3/9 Test  #3: Net.Flaky .....***Failed  0.10 sec"; echo "      Test  #3: Net.Flaky ....   Passed 0.1 sec"; }
broken() {
    for n in $(seq 1 30); do echo "[$n/30] Building CXX object part$n.o"; done
    echo "part7.cpp:3:1: error: expected ; before }"
    echo "ninja: build stopped: subcommand failed."
    return 1
}
step "fine" echo all well
step "flaky tests" flaky
step "broken build" broken')
[[ $report == *"status=1"* ]] || fail "a failed step left the status at 0: $report"
[[ $report == *"test.sh: broken build FAILED after"* ]] || fail "the failed step did not say so where it ended"
summary=${report##*test.sh: FAILED: }
[[ $report == *"test.sh: FAILED: broken build"* ]] || fail "the failed step is not named at the end"
[[ $summary == *"    part7.cpp:3:1: error: expected ; before }"* ]] || fail "the error is not repeated at the end: $summary"
[[ $summary != *"Building CXX object"* ]] || fail "the summary repeats lines that tell nothing"
[[ $report != *"FAILED: fine"* && $report != *"FAILED: flaky"* ]] || fail "a passed step is named as failed"
[[ $report == *"failed once, then run again:"*"    Net.Flaky"* ]] || fail "the test that passed only when run again is not named"

# A daemon started by a step keeps the step's output open; the step still ends within seconds.
start=$SECONDS
report=$(run_steps 'step "daemon" bash -c "sleep 60 & echo started"')
[ $((SECONDS - start)) -lt 20 ] || fail "a daemon held the step up for $((SECONDS - start)) s"
[[ $report == *"started"*"test.sh: daemon took"*"status=0" ]] || fail "all steps passed, yet: $report"
[[ $report != *"failed once"* && $report != *"FAILED"* ]] || fail "a clean run reported a failure"
pkill -f "sleep 60" 2>/dev/null

exit $problems
