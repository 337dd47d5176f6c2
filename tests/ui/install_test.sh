#!/usr/bin/env bash
# `cmake --install` of the Linux build puts in place what a desktop needs to offer KeyScout:
#   install_test.sh BUILD_DIR
set -u
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
pass=0 fail=0
check() {  # name condition...
    local name=$1; shift
    if "$@"; then pass=$((pass + 1)); echo "ok: $name"; else fail=$((fail + 1)); echo "FAILED: $name"; fi
}
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAILED: cmake --install"; exit 1; }
check "the program is installed" test -x "$prefix/bin/keyscout"
check "its console companion is installed" test -x "$prefix/bin/keyscout-list"
desktop="$prefix/share/applications/keyscout.desktop"
check "the desktop entry is installed" test -f "$desktop"
check "... it starts keyscout" grep -qx 'Exec=keyscout' "$desktop"
check "... with the keyscout icon" grep -qx 'Icon=keyscout' "$desktop"
check "... as an application" grep -qx 'Type=Application' "$desktop"
for n in 16 32 48 64 128 256; do
    png="$prefix/share/icons/hicolor/${n}x${n}/apps/keyscout.png"
    check "the ${n}x${n} icon is installed" test -f "$png"
    check "... and is ${n} pixels square" test "$(identify -format '%wx%h' "$png" 2>/dev/null)" = "${n}x${n}"
done
echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
