#!/usr/bin/env bash
# The soak of device changes (a benchmark: not part of scripts/test-all.sh, which runs a
# short one). On a umockdev test bed the live Linux machine reader takes KS_SOAK_CHANGES
# device arrivals and removals (10,000) spread over KS_SOAK_SECONDS (300) while
# keyscout-list --watch runs, and again while the window (keyscout) is open; then
# KeyScout.exe under Wine takes as many device-change broadcasts. Each run checks that what
# the program shows is the machine as it is, that its resident memory grew by at most 2 MiB
# after the warm-up, that its open file descriptors (under Wine also its handles) are as
# many as then, and that no scan
# runs once the storm has settled; it prints its figures on "soak:" lines.
#   bash scripts/soak.sh            (about 20 minutes)
# KS_SOAK_RUNS picks some of the runs (default "list window wine"); KS_SOAK_DISPLAY names an
# X display to start the soak's own Xvfb on (default: the first free one from :90).
# Exits non-zero when a check fails. Figures: docs/ROBUSTNESS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
changes=${KS_SOAK_CHANGES:-10000}
seconds=${KS_SOAK_SECONDS:-300}
runs=" ${KS_SOAK_RUNS:-list window wine} "
for run in $runs; do
  case $run in list | window | wine) ;; *) echo "soak.sh: no run named $run (list, window, wine)" >&2; exit 2 ;; esac
done
presets=()
[[ $runs == *" list "* || $runs == *" window "* ]] && presets+=(linux)
[[ $runs == *" wine "* ]] && presets+=(win32)
bash scripts/install-deps.sh
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
done
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
display=${KS_SOAK_DISPLAY:-}
for n in $(seq 90 120); do
  [ -n "$display" ] && break
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY="$display"
for _ in $(seq 1 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
status=0
if [[ $runs == *" list "* ]]; then
  echo "=== keyscout-list --watch: $changes changes over $seconds s"
  umockdev-wrapper /usr/bin/python3 tests/soak/soak_linux.py list \
    build/linux/tools/keyscout-list/keyscout-list "$changes" "$seconds" || status=1
fi
if [[ $runs == *" window "* ]]; then
  echo "=== the window (keyscout): $changes changes over $seconds s"
  dbus-run-session -- umockdev-wrapper /usr/bin/python3 tests/soak/soak_linux.py window \
    build/linux/app/keyscout "$changes" "$seconds" 2> >(grep -v '^dbus-daemon' >&2) || status=1
fi
if [[ $runs == *" wine "* ]]; then
  echo "=== KeyScout.exe under Wine: $changes broadcasts over $seconds s"
  export WINEDEBUG=-all WINEPREFIX="$PWD/build/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml="
  bash scripts/wine-prefix.sh
  bash tests/soak/soak_wine.sh build/win32/app/KeyScout.exe build/win32/tests/ui/keyscout-inspect.exe \
    build/win32/tests/soak/keyscout-postchanges.exe build/win32/tests/soak/keyscout-handles.exe \
    "$changes" "$seconds" || status=1
  wineserver -k >/dev/null 2>&1 || true
fi
exit $status
