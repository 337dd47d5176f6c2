#!/usr/bin/env bash
# Remakes the screenshots of KeyScout's window in docs/, on the simulated machine of
# tests/data/ui-three-devices.json with the first of its three devices selected: the Windows
# build under Wine (docs/keyscout-windows.png) and the Linux build with Qt 6
# (docs/keyscout.png, framed by the openbox window manager). Builds what it needs first; runs
# on virtual X servers of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The Linux picture has a window manager's frame around the window.
if ! command -v openbox >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends openbox >/dev/null
fi
jobs=$(nproc 2>/dev/null || echo 2)
machine=tests/data/ui-three-devices.json
mkdir -p docs

# Starts a virtual X server on the first free display from $1 and sets DISPLAY to it.
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
start_x() {
  local display=""
  for n in $(seq "$1" $(($1 + 30))); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
  done
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  export DISPLAY="$display"
}
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

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

start_x 121
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs" --target keyscout-demo
export WINEDEBUG=-all WINEPREFIX="$PWD/build/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml="
bash scripts/wine-prefix.sh
wine build/win32/tests/ui/keyscout-demo.exe "$machine" &
demo=$!
shoot docs/keyscout-windows.png
wait "$demo" || true
wineserver -k >/dev/null 2>&1 || true

# Linux: the same window drawn by Qt, in a window manager's frame. openbox draws every button
# of its title layout whatever a window allows; this layout shows the ones KeyScout's window
# asks for (it has no minimise or maximise box).
start_x 151
config=$(mktemp -d)
mkdir -p "$config/openbox"
cat > "$config/openbox/rc.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><name>Clearlooks</name><titleLayout>NLC</titleLayout></theme>
</openbox_config>
XML
XDG_CONFIG_HOME="$config" openbox --config-file "$config/openbox/rc.xml" >/dev/null 2>&1 &
pids+=($!)
sleep 1
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs" --target keyscout-demo
build/linux/tests/ui/keyscout-demo "$machine" 2>/dev/null &
demo=$!
shoot_framed() {
  local id=""
  for _ in $(seq 1 300); do
    id=$(xdotool search --onlyvisible --name '^KeyScout$' 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || { echo "no window appeared" >&2; return 1; }
  xdotool windowactivate --sync "$id" 2>/dev/null || true
  sleep 2
  # With the window manager's frame around the program's window.
  import -frame -window "$id" "$1"
  xdotool key --window "$id" Escape 2>/dev/null || xdotool key Escape
  echo "wrote $1"
}
shoot_framed docs/keyscout.png
wait "$demo" || true
rm -rf "$config"
