#!/usr/bin/env bash
# KeyScout.exe from outside, as a user meets it under Wine on an X display ($DISPLAY):
#   exe_tests.sh KEYSCOUT_EXE INSPECT_EXE
# The window appears with the texts of its template; a second copy ends at once without a
# window; Alt+Q, Escape and Enter each end the program; a copy that can make no window ends
# with status 1. Wine has no USB host controllers, so the list is empty.
set -u
exe=$1
inspect=$2
source "$(dirname "$0")/../support/checks.sh"
if [ -z "${DISPLAY:-}" ]; then echo "FAILED: no X display (DISPLAY is not set)"; exit 1; fi
clean() { tr -d '\r'; }
look() { wine "$inspect" KeyScout 2>/dev/null | clean; }
# Waits until the window is up (at most 30 s); prints what the inspector saw.
wait_window() {
    local out=""
    for _ in $(seq 1 300); do
        out=$(look)
        case "$out" in "windows 1"*) break ;; esac
        sleep 0.1
    done
    printf '%s\n' "$out"
}
xwindow() { xdotool search --onlyvisible --name '^KeyScout$' 2>/dev/null | head -n 1; }
# Presses keys in the program's window the way a user does: through the X server.
press() {
    local id=""
    for _ in $(seq 1 100); do
        id=$(xwindow)
        [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || { echo "no X window"; return; }
    xdotool windowfocus --sync "$id" 2>/dev/null || true
    xdotool key --clearmodifiers "$1"
}

wine "$exe" & first=$!
seen=$(wait_window)
check "the window titled KeyScout appears" "windows 1" "$(head -n 1 <<<"$seen")"
texts=$(grep '^control' <<<"$seen" | grep -v ' Static ?' | sed 's/^control //')
check "its controls show the template's texts" "1 Button 終了(&Q)
-1 Static Latchguardの鍵に使用したいデバイスをコンピュータに接続してください。\n接続したデバイスがハードウェア一覧に表示されれば鍵として使用することができます。
-1 Static ハードウェア一覧
1003 SysListView32 
-1 Static 詳細情報
1002 SysTreeView32 
-1 Static ベンダーID:
1008 Edit 
-1 Static プロダクトID:
1009 Edit 
-1 Static シリアル番号:
1010 Edit " "$texts"
# Wine has no USB host controllers: the scan finds no device and the list stays empty.
check "the list is empty (Wine has no USB host controllers)" "list 1003 0" "$(grep '^list' <<<"$seen")"

wine "$exe" & second=$!
wait_end "$second" 10
check "a second copy ends at once" "ended 0" "$ended"
check "... without a second window" "windows 1" "$(look | head -n 1)"

check "the first copy still runs before the key" yes "$(kill -0 "$first" 2>/dev/null && echo yes)"
press alt+q
wait_end "$first" 10
check "Alt+Q ends the program" "ended 0" "$ended"

for key in Escape Return; do
    wine "$exe" & pid=$!
    seen=$(wait_window)
    check "the window is up again for $key" "windows 1" "$(head -n 1 <<<"$seen")"
    sleep 0.5
    check "it still runs before $key" yes "$(kill -0 "$pid" 2>/dev/null && echo yes)"
    press "$key"
    wait_end "$pid" 10
    check "$key ends the program" "ended 0" "$ended"
done

# Without a display Wine can make no window: the program's start has failed, and its exit
# status says so (the second copy above, refused by the guard, ends with 0).
env -u DISPLAY wine "$exe" 2>/dev/null & pid=$!
wait_end "$pid" 30
check "a copy whose window cannot be made (no display) ends with status 1" "ended 1" "$ended"
check "... without a window" "windows 0" "$(look | head -n 1)"

finish
