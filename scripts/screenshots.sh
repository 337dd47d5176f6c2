#!/usr/bin/env bash
# Remakes the screenshots of KeyScout's window in docs/: the Windows build under Wine
# (docs/keyscout-windows.png) on the simulated machine of tests/data/ui-three-devices.json,
# the first of its three devices selected. Builds what it needs first; runs on a virtual X
# server of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
machine=tests/data/ui-three-devices.json
mkdir -p docs

for n in $(seq 121 150); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY="$display" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

# Waits for the window titled KeyScout, lets it settle, and writes it to $1.
shoot() {
  local id=""
  for _ in $(seq 1 300); do
    id=$(xdotool search --onlyvisible --name '^KeyScout$' 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || { echo "no window appeared" >&2; return 1; }
  # Active, as a window the user has just opened.
  xdotool windowfocus --sync "$id" 2>/dev/null || true
  sleep 2
  import -window "$id" "$1"
  xdotool windowfocus --sync "$id" key Escape 2>/dev/null || true
  echo "wrote $1"
}

cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs" --target keyscout-demo
export WINEDEBUG=-all WINEPREFIX="$PWD/build/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml="
bash scripts/wine-prefix.sh
wine build/win32/tests/ui/keyscout-demo.exe "$machine" &
demo=$!
shoot docs/keyscout-windows.png
wait "$demo" || true
wineserver -k >/dev/null 2>&1 || true
