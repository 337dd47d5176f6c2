#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test KeyScout:
# the native toolchain, the mingw-w64 cross compiler for the 32-bit Windows
# build, Wine (32-bit) to run that build, Qt 6 and udev for the Linux desktop
# build, umockdev test beds with lsusb and strace to judge the Linux backend by (with
# the GObject bindings and the accessibility bus that the soak of device changes drives
# the beds and reads the window by), udev's hardware database with udevadm (the beds
# whose names it gives are compared with it),
# the Japanese locale and fonts the dialogs are rendered with, Xvfb and xdotool for
# the window tests and screenshots, Python 3 and ImageMagick for the artwork
# (scripts/make-art.py, scripts/check-art.sh), and python3-jsonschema, which holds
# keyscout-list's JSON to its schema; dpkg-dev (dpkg-shlibdeps, for the package's
# Depends), lintian and man-db for the release (scripts/release.sh).
# Safe to run again: packages already present are left as they are.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

pkgs=(
  build-essential cmake ninja-build pkg-config git python3 python3-jsonschema
  clang clang-format libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
  qt6-base-dev libxcb1-dev libudev-dev
  umockdev libumockdev-dev usbutils strace udev
  python3-gi gir1.2-umockdev-1.0 gir1.2-atspi-2.0 at-spi2-core dbus
  xvfb xauth xdotool imagemagick fonts-ipafont-gothic fonts-wine locales
  dpkg-dev lintian man-db
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
  update_log=$(mktemp)
  for attempt in 1 2 3; do
    $SUDO apt-get update -qq 2>&1 | tee "$update_log" >&2 || true
    grep -q '^E:' "$update_log" || break
    echo "apt-get update failed (attempt $attempt); trying again" >&2
    sleep $((attempt * 10))
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  if [ "$need_wine" -eq 1 ]; then
    if ! $SUDO apt-get install -y -qq --no-install-recommends wine wine32:i386; then
      # Seen here: a mirror kept serving an i386 index of the security suite that no longer
      # matched its Release file, so apt dropped it and could not pair the i386 libraries
      # with the amd64 ones already installed from that suite. Use the index as served for
      # this one install (apt still checks every package against it), then retry.
      grep -o 'Failed to fetch http://[^ ]*binary-i386/Packages\.xz' "$update_log" | cut -d' ' -f4 |
        while read -r url; do
          list="/var/lib/apt/lists/$(echo "${url#http://}" | sed 's|/|_|g; s|\.xz$||')"
          echo "using the i386 index as served: $url" >&2
          $SUDO /usr/lib/apt/apt-helper download-file "$url" /tmp/ks-index.xz
          python3 -c 'import lzma,sys; sys.stdout.buffer.write(lzma.open(sys.argv[1]).read())' \
            /tmp/ks-index.xz | $SUDO tee "$list" >/dev/null
        done
      $SUDO apt-get install -y -qq --no-install-recommends wine wine32:i386
    fi
  fi
fi

# Wine must run the Windows build with the ANSI code page 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
