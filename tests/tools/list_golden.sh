#!/usr/bin/env bash
# keyscout-list on a simulated machine, text and JSON, compared with the outputs checked by
# hand once.
#   list_golden.sh TOOL DATADIR NAME [RUNNER]
# Runs the tool on DATADIR/NAME.json and compares with DATADIR/NAME.list.txt and
# DATADIR/NAME.list.json (both UTF-8). Under a RUNNER (Wine: the Windows build) the text
# comes in the ANSI code page of a Japanese system, 932, and is converted first; the JSON
# is UTF-8 everywhere. Line ends are compared without \r.
set -u
tool=$1
data=$2
name=$3
run=${4:-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail=0

go() {  # go OUT ARGS...: the tool's stdout, without \r, in OUT
    local out=$1
    shift
    if [ -n "$run" ]; then
        LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 timeout 120 $run "$tool" "$@" > "$dir/raw" 2> "$dir/err"
    else
        timeout 120 "$tool" "$@" > "$dir/raw" 2> "$dir/err"
    fi
    local rc=$?
    if [ "$rc" -ne 0 ]; then echo "FAILED: keyscout-list $* exited with $rc"; cat "$dir/err"; fail=1; fi
    tr -d '\r' < "$dir/raw" > "$out"
}

compare() {  # compare WHAT EXPECTED ACTUAL
    if cmp -s "$2" "$3"; then
        echo "ok: $1"
    else
        echo "FAILED: $1 differs from $2"
        diff -u "$2" "$3" | head -60
        fail=1
    fi
}

go "$dir/text" --machine "$data/$name.json"
if [ -n "$run" ]; then
    if ! iconv -f CP932 -t UTF-8 "$dir/text" > "$dir/text.utf8"; then
        echo "FAILED: the text output is not in code page 932"
        fail=1
    fi
    mv "$dir/text.utf8" "$dir/text"
fi
compare "text output" "$data/$name.list.txt" "$dir/text"

go "$dir/json" --json --machine "$data/$name.json"
compare "JSON output" "$data/$name.list.json" "$dir/json"

[ "$fail" -eq 0 ]
