#!/usr/bin/env bash
# keyscout (the Linux program) from outside, on the X display of the test run ($DISPLAY):
#   linux_exe_tests.sh KEYSCOUT
# The window titled KeyScout appears; a second copy ends at once without a window; Escape,
# Enter and Alt+Q end the program; without a display, or with one that turns it away, it says
# so in one line and prints the list instead.
set -u
exe=$1
source "$(dirname "$0")/../support/checks.sh"
if [ -z "${DISPLAY:-}" ]; then echo "FAILED: no X display (DISPLAY is not set)"; exit 1; fi
windows() { xdotool search --onlyvisible --name '^KeyScout$' 2>/dev/null | wc -l; }
wait_window() {
    for _ in $(seq 1 300); do [ "$(windows)" -ge 1 ] && return 0; sleep 0.1; done
    return 1
}
press() {
    local id=""
    for _ in $(seq 1 50); do
        id=$(xdotool search --onlyvisible --name '^KeyScout$' 2>/dev/null | head -n 1)
        [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || return
    # Without a window manager the keyboard follows the pointer.
    eval "$(xdotool getwindowgeometry --shell "$id")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 5))
    xdotool key --clearmodifiers "$1"
}

"$exe" 2>/dev/null & first=$!
wait_window; check "the window titled KeyScout appears" 1 "$(windows)"
"$exe" 2>/dev/null & second=$!
wait_end "$second" 10
check "a second copy ends at once" "ended 0" "$ended"
check "... without a second window" 1 "$(windows)"
check "the first copy still runs" yes "$(kill -0 "$first" 2>/dev/null && echo yes)"
press Escape
wait_end "$first" 10
check "Escape ends the program" "ended 0" "$ended"

for key in Return alt+q; do
    "$exe" 2>/dev/null & pid=$!
    wait_window
    sleep 0.3
    check "it runs before $key" yes "$(kill -0 "$pid" 2>/dev/null && echo yes)"
    press "$key"
    wait_end "$pid" 10
    check "$key ends the program" "ended 0" "$ended"
done

# No display: one line on the error stream, and the list on the standard output.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 60 "$exe" 2>"${TMPDIR:-/tmp}/keyscout.err"); rc=$?
err=$(cat "${TMPDIR:-/tmp}/keyscout.err"); rm -f "${TMPDIR:-/tmp}/keyscout.err"
check "without a display it ends with status 0" 0 "$rc"
check "... saying so in one line" 1 "$(printf '%s\n' "$err" | grep -c .)"
check "... that names the reason" yes "$(grep -q 'no display' <<<"$err" && echo yes)"
check "... and prints the list (or that it is empty)" yes "$( [ -n "$out" ] && echo yes)"

# A display that does not answer is no display either (Qt would end the program).
for n in $(seq 200 230); do [ -e "/tmp/.X11-unix/X$n" ] || { silent=":$n"; break; }; done
out=$(DISPLAY="$silent" timeout 60 "$exe" 2>/dev/null); rc=$?
check "a display that does not answer: it ends with status 0" 0 "$rc"
check "... and prints the list instead" yes "$( [ -n "$out" ] && echo yes)"

# A display whose server turns the program's connection away once it has found the display
# answering (as an X server does with the connections it has not yet answered when it resets
# itself after its last client has left): the program tries again and shows its window. One
# that keeps turning it away is no display: one line and the list, never an abort.
turnaway() {  # PLAN SECONDS: the program on a stand-in display (x_turnaway.py) for at most
    # SECONDS; sets out, err and rc ("running" when it still ran then)
    local n file="${TMPDIR:-/tmp}/keyscout-turnaway.$$"
    for n in $(seq 231 260); do [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break; done
    python3 "$(dirname "$0")/x_turnaway.py" "$n" "$1" >"$file.proxy" & local proxy=$!
    for _ in $(seq 1 100); do grep -q ready "$file.proxy" 2>/dev/null && break; sleep 0.05; done
    DISPLAY=":$n" "$exe" >"$file.out" 2>"$file.err" & local pid=$!
    wait_end "$pid" "$2"
    rc=${ended#ended }
    out=$(cat "$file.out") err=$(cat "$file.err")
    kill "$proxy"; wait "$proxy" 2>/dev/null
    rm -f "$file.proxy" "$file.out" "$file.err"
}
turnaway dp 3
check "its first connection turned away: the program still runs its window" running "$rc"
for plan in d pd; do
    turnaway "$plan" 10
    check "every connection turned away ($plan): it ends with status 0" 0 "$rc"
    check "... saying so in one line" "1 yes" "$(printf '%s\n' "$err" | grep -c .) $(grep -q 'no display' <<<"$err" && echo yes)"
    check "... and prints the list instead" yes "$( [ -n "$out" ] && echo yes)"
done

finish
