#!/usr/bin/env bash
# A stop while a scan pass never ends, timed from outside the process:
#   app_stop_tests.sh CHILD [RUNNER]   (RUNNER: wine for the Windows build)
# The stop gives the worker its full 10000 ms and then ends it by force; the process ends
# within a margin of that. Timed from the moment the stop begins (the child writes
# DIR/stopping then), so that the start of the process does not count.
set -u
child=$1
run=${2:-}
source "$(dirname "$0")/../support/checks.sh"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
clean() { tr -d '\r'; }
limit_ms=10000
margin_ms=2000    # the forced end and the process's own end, on a loaded machine
early_ms=300      # how much sooner the file may be seen than the stop began, at the most
now_ms() { echo $(($(date +%s%N) / 1000000)); }

timeout 60 $run "$child" hang-stop "$dir" > "$dir/out" &
pid=$!
seen=no
for _ in $(seq 1 3000); do [ -e "$dir/stopping" ] && { seen=yes; break; }; sleep 0.01; done
began=$(now_ms)
check "the stop began while the pass hung" yes "$seen"
wait_end "$pid" 40
took=$(( $(now_ms) - began ))
echo "the stop took ${took} ms (limit ${limit_ms} ms, margin ${margin_ms} ms)"
check "the process ended, with 0" "ended 0" "$ended"
check "the worker was ended by force" $'window\nworker\nworker-exit ffffffff' "$(clean < "$dir/out")"
# Checks of the limit itself: a pass that never ends cannot let the stop end sooner than
# its wait, and the process must not outlive the wait by more than the margin.
check "the stop waited its full ${limit_ms} ms" yes \
    "$([ "$took" -ge $((limit_ms - early_ms)) ] && echo yes || echo "no: ${took} ms")"
check "the process ended within ${limit_ms} ms and ${margin_ms} ms more" yes \
    "$([ "$took" -le $((limit_ms + margin_ms)) ] && echo yes || echo "no: ${took} ms")"
finish
