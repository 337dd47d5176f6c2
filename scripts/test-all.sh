#!/usr/bin/env bash
# Builds and runs every test: natively, with AddressSanitizer and UndefinedBehaviorSanitizer,
# and the 32-bit Windows build under Wine with the Japanese locale (ANSI code page 932).
# Installs what is missing first. Exits non-zero when any build or test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
for preset in linux linux-asan win32; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
status=0
for preset in linux linux-asan win32; do
  echo "=== $preset: tests"
  if [ "$preset" = win32 ]; then
    export WINEDEBUG=-all WINEPREFIX="$PWD/build/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml="
    # One Wine server for the whole run: the prefix is made once, and the tests that start
    # several processes meet in it.
    wineboot -i >/dev/null 2>&1 || true
  fi
  ctest --preset "$preset" -j "$jobs" || status=1
done
if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
exit $status
