#!/usr/bin/env bash
# Single-instance guard and shutdown, process by process:
#   app_tests.sh CHILD MUTEXHOLDER [RUNNER]   (RUNNER: wine for the Windows build)
# Every program runs under a bound (timeout, wait_end): a hang fails its check with a
# message instead of running into CTest's time-out.
set -u
child=$1
holder=$2
run=${3:-}
source "$(dirname "$0")/../support/checks.sh"
dir=$(mktemp -d)
trap 'touch "$dir/release"; rm -rf "$dir"' EXIT
clean() { tr -d '\r'; }
# The guard's name, spelled out here on purpose: another program that holds it must keep
# KeyScout from starting.
guard='{5D0C8A3E-2B71-49ca-8C46-1E3B7A90D2F5}-KeyScout'
# start NAME: the copy's output into $dir/NAME.out; 60 s at most.
start() { timeout 60 $run "$child" "$@"; }
# wait_file FILE: up to 30 s.
wait_file() { for _ in $(seq 1 3000); do [ -e "$1" ] && return 0; sleep 0.01; done; return 1; }

# A copy that runs alone shows its window with a worker, and ends normally.
start once > "$dir/out"; rc=$?; out=$(clean < "$dir/out")
check "a lone copy starts" $'window\nworker\nended' "$out"
check "a lone copy exits 0" 0 "$rc"

# While one copy runs, a second ends silently: no window, no worker.
rm -f "$dir/ready" "$dir/release"
start hold "$dir" > "$dir/first.out" &
first=$!
check "the first copy came up" yes "$(wait_file "$dir/ready" && echo yes || echo no)"
start once > "$dir/out"; rc=$?; out=$(clean < "$dir/out")
check "a second copy is refused silently" "ended" "$out"
check "a refused copy exits 0" 0 "$rc"
touch "$dir/release"
wait_end "$first" 30
check "the first copy ends when let go" "ended 0" "$ended"
check "the first copy was unaffected" $'window\nworker\nended' "$(clean < "$dir/first.out")"

# After it has ended, a new copy starts normally.
out=$(start once | clean)
check "a copy after the first has ended starts" $'window\nworker\nended' "$out"

# A copy that has given its guard back once and is still ending keeps it: the guard was
# created owned and is released once, so ownership stays until the copy's thread ends.
rm -f "$dir/ending" "$dir/release"
start linger "$dir" > "$dir/first.out" &
first=$!
check "the first copy reached its end" yes "$(wait_file "$dir/ending" && echo yes || echo no)"
start once > "$dir/out"; rc=$?; out=$(clean < "$dir/out")
check "a copy started while the first is still ending is refused" "ended" "$out"
check "... and exits 0" 0 "$rc"
touch "$dir/release"
wait_end "$first" 30
check "the ending copy ends" "ended 0" "$ended"
out=$(start once | clean)
check "once it has ended, a copy starts" $'window\nworker\nended' "$out"

# Another program that holds a mutex of the guard's name keeps KeyScout from starting; one
# of any other name does not.
for name in "$guard" "$guard-other"; do
    rm -f "$dir/ready" "$dir/release"
    timeout 60 $run "$holder" "$name" "$dir" &
    squatter=$!
    check "the holder owns $name" owned "$(wait_file "$dir/ready" && cat "$dir/ready")"
    out=$(start once | clean)
    if [ "$name" = "$guard" ]; then
        check "a copy is refused while another program holds $name" "ended" "$out"
    else
        check "a mutex named $name does not keep a copy from starting" $'window\nworker\nended' "$out"
    fi
    touch "$dir/release"
    wait_end "$squatter" 30
    check "the holder of $name ends" "ended 0" "$ended"
done

# A worker that does not stop in time is ended by force with exit code -1 (all 32 bits set),
# and the process still ends, with 0.
start force-stop > "$dir/out"; rc=$?; out=$(clean < "$dir/out")
check "a forced stop still ends the process" $'window\nworker\nworker-exit ffffffff' "$out"
check "a forced stop exits 0" 0 "$rc"

# The main window object goes before start-up returns; the framework's exit path must not
# reach it (under AddressSanitizer a use after free would end the run here).
start main-window > "$dir/out"; rc=$?; out=$(clean < "$dir/out")
check "a main window gone before the exit path is not touched" $'window\nworker\nended' "$out"
check "... and the copy exits 0" 0 "$rc"

# A worker that cannot be created: no window, and a quiet end.
start no-worker > "$dir/out"; rc=$?; out=$(clean < "$dir/out")
check "without a worker no window is shown" "ended" "$out"
check "... and the copy exits 0" 0 "$rc"

# A main window that cannot be made is a failed start: the copy says so and exits non-zero
# (a copy refused by the guard still exits 0, above), and gives the guard back as any other.
start no-window > "$dir/out" 2> "$dir/err"; rc=$?; out=$(clean < "$dir/out")
check "a copy whose main window cannot be made ends" "ended" "$out"
check "... with exit status 1" 1 "$rc"
check "... and says why" "keyscout: the main window could not be created" "$(clean < "$dir/err" | grep '^keyscout:')"

# After that, the mutex is free again: a normal copy starts.
out=$(start once | clean)
check "a copy after the worker-less one starts" $'window\nworker\nended' "$out"

finish
