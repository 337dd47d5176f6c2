#!/usr/bin/env bash
# keyscout-list --capture as a user reporting a problem runs it: the capture of this machine
# (under Wine: the real, empty Wine machine) and of simulated ones replays with --machine to
# the same text and JSON, byte for byte; a capture that cannot be written is an error after
# the list has been printed.
#   capture_cli.sh TOOL DATADIR [RUNNER]
set -u
tool=$1
data=$2
run=${3:-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
pass=0 fail=0
check() {
    if [ "$2" == "$3" ]; then pass=$((pass + 1)); echo "ok: $1"
    else fail=$((fail + 1)); echo "FAILED: $1"; echo "  expected: $2"; echo "  actual:   $3"; fi
}
same() {  # same WHAT FILE1 FILE2
    if cmp -s "$2" "$3"; then pass=$((pass + 1)); echo "ok: $1"
    else fail=$((fail + 1)); echo "FAILED: $1"; diff -u "$2" "$3" | head -40; fi
}
go() {  # go OUT ERR ARGS...: the tool's exit code in $dir/rc
    local out=$1 err=$2
    shift 2
    timeout 120 $run "$tool" "$@" > "$out" 2> "$err"  # 124: it hung
    echo $? > "$dir/rc"
}

# One machine: captured while listing, then replayed, as text and as JSON.
roundtrip() {  # roundtrip NAME [--machine FILE]
    local name=$1
    shift
    go "$dir/$name.text" "$dir/err" "$@" --capture "$dir/$name.capture.json"
    check "$name: a listing with --capture succeeds" 0 "$(cat "$dir/rc")"
    go "$dir/$name.replay.text" "$dir/err" --machine "$dir/$name.capture.json"
    check "$name: the capture loads and scans" 0 "$(cat "$dir/rc")"
    [ "$(cat "$dir/rc")" -eq 0 ] || cat "$dir/err"
    same "$name: the replay prints the same text" "$dir/$name.text" "$dir/$name.replay.text"
    go "$dir/$name.json" "$dir/err" --json "$@" --capture "$dir/$name.capture2.json"
    go "$dir/$name.replay.json" "$dir/err" --json --machine "$dir/$name.capture2.json"
    same "$name: the replay prints the same JSON" "$dir/$name.json" "$dir/$name.replay.json"
}

roundtrip this-machine
roundtrip example-small --machine "$data/example-small.json"
roundtrip windows-desktop --machine "$data/scan-windows-desktop.json"
roundtrip node-faults --machine "$data/scan-node-faults.json"

go "$dir/out" "$dir/err" --capture
check "--capture without a file fails" 2 "$(cat "$dir/rc")"

go "$dir/out" "$dir/err" --machine "$data/example-small.json" --capture "$dir/no/such/folder/c.json"
check "a capture that cannot be written fails" 1 "$(cat "$dir/rc")"
check "and says which file" yes "$(tr -d '\r' < "$dir/err" | grep -q 'c.json: cannot write the capture' && echo yes || echo no)"
check "after printing the list" yes "$(grep -q 'Vendor ID' "$dir/out" && echo yes || echo no)"

echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
