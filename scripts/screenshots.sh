#!/usr/bin/env bash
# Remakes the screenshots of KeyScout's window in docs/, on the simulated machine of
# tests/data/ui-three-devices.json with the first of its three devices selected: the Windows
# build under Wine at 100 % and at 150 % (a prefix of 144 dpi: docs/keyscout-windows.png,
# docs/keyscout-windows-150.png) and the Linux build with Qt 6 at 100 % and with Qt scaling it
# by 1.5 (docs/keyscout.png, docs/keyscout-150.png, framed by the openbox window manager).
# KS_SHOTS_EXTRA=1 also makes the Windows window at 125 % and 200 % and the Linux one at 200 %
# in build/screenshots/, to look at beside them. Builds what it needs first; runs on virtual X
# servers of its own, on the first free displays from :121 and :151 (KS_SHOTS_WINDOWS_DISPLAY
# and KS_SHOTS_LINUX_DISPLAY name others).
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
mkdir -p docs build/screenshots
extra=${KS_SHOTS_EXTRA:-0}
# The Linux program's single-instance guard is a name that every process of the machine
# shares: in a network namespace of its own (where root may have one) the demo meets no
# other copy that a test may be running. Its X server is reached through the file system.
isolate=()
if unshare -n true 2>/dev/null; then isolate=(unshare -n); fi

# Starts a virtual X server on the first free display from $1 and sets DISPLAY to it.
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
start_x() {
  local display=""
  for n in $(seq "$1" $(($1 + 30))); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
  done
  Xvfb "$display" -screen 0 2048x1536x24 -nolisten tcp >/dev/null 2>&1 &
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
  # import waits without end on a window that goes while it reads it.
  timeout 60 import -window "$id" "$1"
  xdotool windowfocus --sync "$id" key Escape 2>/dev/null || true
  echo "wrote $1"
}

start_x "${KS_SHOTS_WINDOWS_DISPLAY:-121}"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs" --target keyscout-demo
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The window at DPI dots per inch, in a Wine prefix of that DPI: windows_shot DPI FILE.
windows_shot() {
  local prefix=$PWD/build/wineprefix
  [ "$1" = 96 ] || prefix=$PWD/build/wineprefix-dpi$1
  WINEPREFIX=$prefix KS_WINE_DPI=$1 bash scripts/wine-prefix.sh
  WINEPREFIX=$prefix wine build/win32/tests/ui/keyscout-demo.exe "$machine" &
  local demo=$!
  shoot "$2"
  wait "$demo" || true
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
}
windows_shot 96 docs/keyscout-windows.png
windows_shot 144 docs/keyscout-windows-150.png
if [ "$extra" = 1 ]; then
  windows_shot 120 build/screenshots/keyscout-windows-125.png
  windows_shot 192 build/screenshots/keyscout-windows-200.png
fi

# Linux: the same window drawn by Qt, in a window manager's frame. openbox draws every button
# of its title layout whatever a window allows; this layout shows the ones KeyScout's window
# asks for (it has no minimise or maximise box).
start_x "${KS_SHOTS_LINUX_DISPLAY:-151}"
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
shoot_framed() {
  local id=""
  # A window that the window manager is still framing can be gone from under a first look.
  for _ in 1 2 3; do
    for _ in $(seq 1 300); do
      id=$(xdotool search --onlyvisible --name '^KeyScout$' 2>/dev/null | head -n 1 || true)
      [ -n "$id" ] && break
      sleep 0.1
    done
    [ -n "$id" ] || { echo "no window appeared" >&2; return 1; }
    xdotool windowactivate --sync "$id" 2>/dev/null || true
    sleep 2
    # With the window manager's frame around the program's window.
    timeout 60 import -frame -window "$id" "$1" 2>/dev/null && break
    id=""
  done
  [ -n "$id" ] || { echo "the window could not be taken" >&2; return 1; }
  xdotool key --window "$id" Escape 2>/dev/null || xdotool key Escape
  echo "wrote $1"
}
# The window with Qt scaling each of its pixels by SCALE: linux_shot SCALE FILE.
linux_shot() {
  QT_SCALE_FACTOR=$1 "${isolate[@]}" build/linux/tests/ui/keyscout-demo "$machine" 2>/dev/null &
  local demo=$!
  shoot_framed "$2"
  wait "$demo" || true
}
linux_shot 1 docs/keyscout.png
linux_shot 1.5 docs/keyscout-150.png
if [ "$extra" = 1 ]; then
  linux_shot 2 build/screenshots/keyscout-200.png
fi
rm -rf "$config"
