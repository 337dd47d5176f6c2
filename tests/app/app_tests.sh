#!/usr/bin/env bash
# Single-instance guard and shutdown, process by process:
#   app_tests.sh CHILD [RUNNER]   (RUNNER: wine for the Windows build)
set -u
child=$1
run=${2:-}
dir=$(mktemp -d)
trap 'touch "$dir/release"; rm -rf "$dir"' EXIT
pass=0 fail=0
check() {  # name expected actual
    if [ "$2" == "$3" ]; then pass=$((pass + 1)); echo "ok: $1"
    else fail=$((fail + 1)); echo "FAILED: $1"; echo "  expected: $(printf %q "$2")"; echo "  actual:   $(printf %q "$3")"; fi
}
clean() { tr -d '\r'; }

# A copy that runs alone shows its window with a worker, and ends normally.
$run "$child" once > "$dir/out"; rc=$?; out=$(clean < "$dir/out")
check "a lone copy starts" $'window\nworker\nended' "$out"
check "a lone copy exits 0" 0 "$rc"

# While one copy runs, a second ends silently: no window, no worker.
$run "$child" hold "$dir" > "$dir/first.out" &
first=$!
for _ in $(seq 1 3000); do [ -e "$dir/ready" ] && break; sleep 0.01; done
check "the first copy came up" yes "$([ -e "$dir/ready" ] && echo yes || echo no)"
$run "$child" once > "$dir/out"; rc=$?; out=$(clean < "$dir/out")
check "a second copy is refused silently" "ended" "$out"
check "a refused copy exits 0" 0 "$rc"
touch "$dir/release"
wait "$first"
check "the first copy was unaffected" $'window\nworker\nended' "$(clean < "$dir/first.out")"

# After it has ended, a new copy starts normally.
out=$($run "$child" once | clean)
check "a copy after the first has ended starts" $'window\nworker\nended' "$out"

# A worker that does not stop in time is ended by force, and the process still ends.
$run "$child" force-stop > "$dir/out"; rc=$?; out=$(clean < "$dir/out")
check "a forced stop still ends the process" $'window\nworker' "$out"
check "a forced stop exits 0" 0 "$rc"

# The main window object goes before start-up returns; the framework's exit path must not
# reach it (under AddressSanitizer a use after free would end the run here).
$run "$child" main-window > "$dir/out"; rc=$?; out=$(clean < "$dir/out")
check "a main window gone before the exit path is not touched" $'window\nworker\nended' "$out"
check "... and the copy exits 0" 0 "$rc"

# A worker that cannot be created: no window, and a quiet end.
$run "$child" no-worker > "$dir/out"; rc=$?; out=$(clean < "$dir/out")
check "without a worker no window is shown" "ended" "$out"
check "... and the copy exits 0" 0 "$rc"

# After that, the mutex is free again: a normal copy starts.
out=$($run "$child" once | clean)
check "a copy after the worker-less one starts" $'window\nworker\nended' "$out"

echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
