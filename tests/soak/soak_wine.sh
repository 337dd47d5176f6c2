#!/usr/bin/env bash
# A soak of device-change broadcasts against KeyScout.exe under Wine, on the X display of
# $DISPLAY, in the prefix of $WINEPREFIX:
#   soak_wine.sh KEYSCOUT_EXE INSPECT_EXE POSTCHANGES_EXE HANDLES_EXE CHANGES SECONDS [WINE]
# Another process posts the window CHANGES device-change broadcasts (WM_DEVICECHANGE,
# DBT_DEVNODES_CHANGED), spread over SECONDS, after a warm-up of a tenth as many. Then: the
# window's list, read from outside (keyscout-inspect), is the machine as it is (Wine has no
# USB host controllers: empty); the process's resident memory has grown by at most 2 MiB
# since the warm-up; it has as many open file descriptors, and as many handles as the
# system counts (keyscout-handles: events, mutexes and device information sets hold no file
# descriptor of the process); and no scan runs once the storm
# has settled. Scans are seen from outside in Wine's own trace of the Setup API: each pass
# asks for the host controllers' interface set once (SetupDiGetClassDevs), and nothing else
# in the program does.
set -u
exe=$1 inspect=$2 post=$3 handles=$4 changes=$5 seconds=$6 wine=${7:-wine}
source "$(dirname "$0")/../support/checks.sh"
quiet=5       # s without a scan that counts as settled
limit=60      # s at most for the program to settle
trace=$(mktemp)
figure() { echo "soak: wine: $*"; }
scans() { grep -c 'trace:setupapi:SetupDiGetClassDevsExW' "$trace"; }
# Waits until no scan has begun for $quiet s (at most $limit s); true when it is quiet.
settle() {
    local last count then=$SECONDS
    last=$(scans)
    count=0
    while [ $((SECONDS - then)) -lt "$limit" ]; do
        sleep 1
        local now
        now=$(scans)
        if [ "$now" = "$last" ]; then count=$((count + 1)); else count=0; last=$now; fi
        [ "$count" -ge "$quiet" ] && return 0
    done
    return 1
}
resident() { awk '/^VmRSS:/ { print $2 * 1024 }' "/proc/$1/status"; }
descriptors() { ls "/proc/$1/fd" | wc -l; }
system_handles() { "$wine" "$handles" KeyScout 2>/dev/null | tr -d '\r' | sed -n 's/^handles //p'; }

WINEDEBUG=-all,trace+setupapi "$wine" "$exe" 2>"$trace" & pid=$!
for _ in $(seq 1 300); do
    "$wine" "$inspect" KeyScout 2>/dev/null | tr -d '\r' | grep -q '^windows 1' && break
    sleep 0.1
done
seen=$("$wine" "$inspect" KeyScout 2>/dev/null | tr -d '\r')
check "the window is up" "windows 1" "$(head -n 1 <<<"$seen")"
# The Linux process that runs KeyScout.exe: the one started here, or its child.
for p in "$pid" $(pgrep -P "$pid" 2>/dev/null); do
    tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | grep -q 'KeyScout.exe' && proc=$p
done
check "the process of KeyScout.exe is found" yes "$([ -n "${proc:-}" ] && echo yes)"

warmup=$((changes / 10))
# One broadcast to the settled window shows what one pass asks.
settle || echo "  (it did not settle after the window opened)"
before=$(scans)
"$wine" "$post" KeyScout 1 0 >/dev/null 2>&1
settle || echo "  (it did not settle after one broadcast)"
per_pass=$(($(scans) - before))
"$wine" "$post" KeyScout "$warmup" 1 >/dev/null 2>&1
settle || echo "  (it did not settle after the warm-up)"
rss0=$(resident "$proc") fds0=$(descriptors "$proc") handles0=$(system_handles) scans0=$(scans)
storm=$((changes - warmup))
sent=$("$wine" "$post" KeyScout "$storm" "$seconds" 2>&1 | tr -d '\r')
check "the broadcasts were all posted" "posted $storm of $storm" "${sent% in *}"
settle; settled=$?
rss1=$(resident "$proc") fds1=$(descriptors "$proc") handles1=$(system_handles)
seen=$("$wine" "$inspect" KeyScout 2>/dev/null | tr -d '\r')
figure "$changes broadcasts ($warmup warm-up, $storm in the storm: ${sent##* in }), $((($(scans) - scans0) / (per_pass > 0 ? per_pass : 1))) scans in the storm and its settling ($per_pass interface-set requests a scan)"
figure "resident memory $(awk -v a="$rss0" -v b="$rss1" 'BEGIN { printf "%.2f MiB after the warm-up, %.2f MiB at the end (%+.2f MiB)", a / 2^20, b / 2^20, (b - a) / 2^20 }')"
figure "open file descriptors $fds0 after the warm-up, $fds1 at the end"
figure "handles ${handles0:-?} after the warm-up, ${handles1:-?} at the end"
check "the window's list is the machine as it is (Wine has no USB host controllers)" "list 1003 0" "$(grep '^list' <<<"$seen")"
check "resident memory grew by at most 2 MiB after the warm-up" yes \
    "$([ $((rss1 - rss0)) -le 2097152 ] && echo yes || echo "no: $((rss1 - rss0)) bytes more")"
check "as many open file descriptors as after the warm-up" "$fds0" "$fds1"
check "the system counts its handles" yes "$([ -n "$handles0" ] && [ -n "$handles1" ] && echo yes)"
check "as many handles as after the warm-up" "$handles0" "$handles1"
check "no scan once the storm has settled (none begun for $quiet s)" 0 "$settled"
kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
rm -f "$trace"
finish
