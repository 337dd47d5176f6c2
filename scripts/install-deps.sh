#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test KeyScout:
# the native toolchain, the mingw-w64 cross compiler for the 32-bit Windows
# build, Wine (32-bit) to run that build, Qt 6 and udev for the Linux desktop
# build, umockdev test beds with lsusb and strace to judge the Linux backend by,
# the Japanese locale and fonts the dialogs are rendered with, Xvfb and xdotool for
# the window tests and screenshots, and Python 3 and ImageMagick for the artwork
# (scripts/make-art.py, scripts/check-art.sh).
# Safe to run again: packages already present are left as they are.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

pkgs=(
  build-essential cmake ninja-build pkg-config git python3
  clang clang-format libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
  qt6-base-dev libudev-dev
  umockdev libumockdev-dev usbutils strace
  xvfb xauth xdotool imagemagick fonts-ipafont-gothic fonts-wine locales
)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
need_wine=0
dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" || need_wine=1

if [ "${#missing[@]}" -gt 0 ] || [ "$need_wine" -eq 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in the middle of a sync serves index files of the wrong size for a while:
  # try again before going on with what could be fetched.
  for attempt in 1 2 3 4 5; do
    $SUDO apt-get update -qq && break
    echo "apt-get update failed (attempt $attempt); trying again" >&2
    sleep $((attempt * 10))
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  if [ "$need_wine" -eq 1 ]; then
    $SUDO apt-get install -y -qq --no-install-recommends wine wine32:i386
  fi
fi

# Wine must run the Windows build with the ANSI code page 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
