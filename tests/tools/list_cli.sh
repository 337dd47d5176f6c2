#!/usr/bin/env bash
# keyscout-list as a user runs it: arguments, fixtures that cannot be used, and a scan.
#   list_cli.sh TOOL DATADIR [RUNNER]
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
has() { case "$2" in *"$3"*) check "$1" yes yes ;; *) check "$1" "text containing '$3'" "$2" ;; esac; }
go() { timeout 120 $run "$tool" "$@" > "$dir/out" 2> "$dir/err"; echo $? > "$dir/rc"; tr -d '\r' < "$dir/out" > "$dir/o"; tr -d '\r' < "$dir/err" > "$dir/e"; }

go --bogus
check "an unknown argument fails" 2 "$(cat "$dir/rc")"
has "and says which" "$(cat "$dir/e")" "unknown argument '--bogus'"

go --machine
check "--machine without a file fails" 2 "$(cat "$dir/rc")"

go --machine "$dir/missing.json"
check "an unreadable fixture fails" 1 "$(cat "$dir/rc")"
has "and names the file" "$(cat "$dir/e")" "missing.json"

printf '{\n  "controllers": [\n    {,}\n  ]\n}\n' > "$dir/broken.json"
go --machine "$dir/broken.json"
check "a malformed fixture fails" 1 "$(cat "$dir/rc")"
has "and names the file" "$(cat "$dir/e")" "broken.json"
has "and the line" "$(cat "$dir/e")" "line 3"

go --machine "$data/malformed-number-overflow.json"
check "a fixture with a number out of range fails" 1 "$(cat "$dir/rc")"
has "and names the file" "$(cat "$dir/e")" "malformed-number-overflow.json"

go --json --machine "$data/example-small.json"
check "a scan of a fixture succeeds" 0 "$(cat "$dir/rc")"
has "and prints the JSON document" "$(cat "$dir/o")" '{"schemaVersion":1,"devices":['

# The live machine through the native backend (under Wine: the real Windows calls, with no
# host controller and configuration-manager calls that may claim success without writing).
go --json
check "a scan of this machine ends and succeeds" 0 "$(cat "$dir/rc")"
has "and prints the JSON document" "$(cat "$dir/o")" '{"schemaVersion":1,"devices":['

go --help
check "--help succeeds" 0 "$(cat "$dir/rc")"
has "and shows the usage" "$(cat "$dir/o")" "usage: keyscout-list"

echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
