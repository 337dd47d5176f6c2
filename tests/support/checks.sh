# Shell helpers of the script tests that drive programs from outside; source it.
pass=0 fail=0
# check NAME EXPECTED ACTUAL: counts and prints the outcome.
check() {
    if [ "$2" == "$3" ]; then pass=$((pass + 1)); echo "ok: $1"
    else fail=$((fail + 1)); echo "FAILED: $1"; echo "  expected: $(printf %q "$2")"; echo "  actual:   $(printf %q "$3")"; fi
}
# wait_end PID SECONDS: sets $ended to "ended STATUS" once the process has ended within the
# time, else to "running" (and then ends the process, so that the next step starts clean).
wait_end() {
    ended=running
    for _ in $(seq 1 $(($2 * 10))); do
        if ! kill -0 "$1" 2>/dev/null; then wait "$1"; ended="ended $?"; return; fi
        sleep 0.1
    done
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}
# finish: the summary line, and the script's status.
finish() {
    echo "$pass passed, $fail failed"
    [ "$fail" -eq 0 ]
}
