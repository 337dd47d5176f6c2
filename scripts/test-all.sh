#!/usr/bin/env bash
# Builds and runs every test: natively, with AddressSanitizer and UndefinedBehaviorSanitizer,
# the threads (the worker, the framework's threads and messages, the window side) with
# ThreadSanitizer, and the 32-bit Windows build under Wine with the Japanese locale (ANSI
# code page 932).
# Installs what is missing first. Exits non-zero when any build or test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
status=0

# Every C++ file follows the one .clang-format.
echo "=== format"
# clang-format names each place as file:line:column; with --Werror it also ends non-zero,
# so a violation it reports in some other shape still fails the check.
format_rc=0
format_log=$(git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror 2>&1) || format_rc=$?
unformatted=$(printf '%s\n' "$format_log" | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: \(warning\|error\): .*/\1/p' | sort -u)
if [ "$format_rc" -ne 0 ] || [ -n "$unformatted" ]; then
  [ -n "$unformatted" ] || unformatted=$(printf '%s\n' "$format_log" | head -n 5)
  echo "FAILED: not formatted with clang-format (run: git ls-files '*.cpp' '*.h' | xargs clang-format -i):"
  echo "$unformatted" | sed 's/^/  /'
  status=1
else
  echo "ok: every C++ file is formatted"
fi

# linux-tsan builds only the tests of the threads (its build preset names them).
# KS_PRESETS narrows the run to some of the presets (all four unless it is set).
presets=${KS_PRESETS:-linux linux-asan linux-tsan win32}
for preset in $presets; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

# The window tests need an X server: a virtual one of their own, on the first free display.
# It stays up as it is between clients (-noreset): an X server that resets itself each time
# its last client leaves turns away the connections that come meanwhile, and the tests start
# and end one client after another. (linux_exe_tests.sh tries the program on such a server.)
# KS_DISPLAY names the display to start it on instead.
display=${KS_DISPLAY:-}
for n in $(seq 90 120); do
  [ -n "$display" ] && break
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY="$display"
# The run gives the tests what they need (an X display, umockdev's beds, Wine), so a test
# that skips itself here is a failure: a broken start of one of them must not pass as a
# run whose window tests all skipped.
provides() {
  if "$@" >/dev/null 2>&1; then return 0; fi
  echo "FAILED: the run does not give the tests what they need: $*"
  status=1
  return 1
}
for _ in $(seq 1 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
provides xdotool getdisplaygeometry || echo "  (Xvfb did not start on $display)"
provides command -v umockdev-wrapper
# ctest_run PRESET [CTEST-PREFIX...]: runs the preset's tests; a failure, or a test that
# CTest reports as skipped, fails the run. Each skipped test is named with the cases that
# skipped themselves.
ctest_run() {
  local preset=$1 log="build/$1/ctest.log"
  shift
  "$@" ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log" || status=1
  local skipped
  skipped=$(sed -nE 's/^[[:space:]]*[0-9]+ - (.*) \(Skipped\)$/\1/p' "$log")
  [ -z "$skipped" ] && return
  status=1
  echo "FAILED: $preset: skipped although the run gives what they need: $(echo $skipped)"
  for t in $skipped; do
    awk -v t="$t" '$2 == "Testing:" { on = ($3 == t) } on && /\[  SKIPPED \] [^ ]+ \(/ { print "  " t ": " $4 }' \
      "build/$preset/Testing/Temporary/LastTest.log" | sort -u
  done
}

# ThreadSanitizer maps its shadow memory at fixed places, which a kernel with more address
# randomisation than it knows can refuse: its tests run without the randomisation when the
# system lets a process ask for that.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then norandom=(setarch "$(uname -m)" -R); fi

for preset in $presets; do
  echo "=== $preset: tests"
  if [ "$preset" = win32 ]; then
    export WINEDEBUG=-all WINEPREFIX="$PWD/build/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml="
    # One Wine server for the whole run: the prefix is made once, and the tests that start
    # several processes meet in it.
    bash scripts/wine-prefix.sh
    provides wine build/win32/tools/keyscout-list/keyscout-list.exe --help
  fi
  if [ "$preset" = linux-tsan ]; then
    ctest_run "$preset" "${norandom[@]}"
  else
    ctest_run "$preset"
  fi
done
if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi

# The artwork is what scripts/make-art.py draws, and loads as Windows loads it.
echo "=== artwork"
if KS_ART_STRICT=1 KS_ART_WINE=1 bash scripts/check-art.sh; then echo "ok: artwork"; else echo "FAILED: artwork"; status=1; fi

# A short run of every fuzzer, seeded with the fixtures: a crash, a hang or a broken
# invariant fails the run.
echo "=== fuzz: build and smoke run"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
fuzz_pass=0 fuzz_fail=0
for f in FuzzReplies FuzzDevNodeText FuzzFixture FuzzResources FuzzMachine FuzzSysfs; do
  corpus=$(mktemp -d)
  [ "$f" = FuzzFixture ] && cp tests/data/*.json "$corpus/"
  [ "$f" = FuzzMachine ] && cp tests/data/*.json "$corpus/"
  [ "$f" = FuzzSysfs ] && cp fuzz/seeds/sysfs-*.bin "$corpus/"
  [ "$f" = FuzzResources ] && cp build/fuzz/res/KeyScout.res "$corpus/"
  if build/fuzz/fuzz/$f -max_total_time="${KS_FUZZ_SECONDS:-15}" -timeout=10 -rss_limit_mb=2048 \
       "$corpus" > "build/fuzz/$f.log" 2>&1; then
    fuzz_pass=$((fuzz_pass + 1)); echo "ok: $f ($(grep -o 'Done [0-9]* runs' "build/fuzz/$f.log"))"
  else
    fuzz_fail=$((fuzz_fail + 1)); echo "FAILED: $f"; tail -n 30 "build/fuzz/$f.log"; status=1
  fi
  rm -rf "$corpus"
done
echo "fuzz: $fuzz_pass passed, $fuzz_fail failed"
exit $status
