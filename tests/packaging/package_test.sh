#!/usr/bin/env bash
# The Debian package that CPack makes of the Linux build, as the release makes it:
#   package_test.sh BUILD_DIR VERSION
# lintian finds no error in it; it holds the programs, the man pages, the desktop entry and
# icons, the schema and the copyright; its Depends is computed (the libraries the programs
# link), and what it unpacks runs.
set -u
build=$1
version=$2
source "$(dirname "$0")/../support/checks.sh"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
deb=$dir/keyscout_${version}_amd64.deb
if ! (cd "$build" && timeout 240 cpack -G DEB -B "$dir" >"$dir/cpack.log" 2>&1); then
    echo "FAILED: cpack"; cat "$dir/cpack.log"; exit 1
fi
check "cpack makes keyscout_${version}_amd64.deb" yes "$([ -f "$deb" ] && echo yes || echo no)"

lintian --fail-on error "$deb" >"$dir/lintian.log" 2>&1
check "lintian reports no error" 0 "$?"
grep -E '^[EW]:' "$dir/lintian.log" | sed 's/^/  /'

files=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sort)
for f in ./usr/bin/keyscout ./usr/bin/keyscout-list \
         ./usr/share/man/man1/keyscout.1.gz ./usr/share/man/man1/keyscout-list.1.gz \
         ./usr/share/applications/keyscout.desktop ./usr/share/icons/hicolor/48x48/apps/keyscout.png \
         ./usr/share/icons/hicolor/scalable/apps/keyscout.svg \
         ./usr/share/keyscout/keyscout-list.schema.json \
         ./usr/share/doc/keyscout/copyright ./usr/share/doc/keyscout/changelog.gz; do
    check "it holds $f" yes "$(grep -qx -- "$f" <<<"$files" && echo yes || echo no)"
done
check "its version is the project's" "$version" "$(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6widgets6 libudev1 libstdc++6; do
    check "Depends names $lib, which the programs link" yes \
        "$(grep -q "\b$lib\b" <<<"$depends" && echo yes || echo no)"
done

dpkg-deb -x "$deb" "$dir/root"
check "its keyscout-list runs" "keyscout-list $version" "$("$dir/root/usr/bin/keyscout-list" --version 2>&1)"
check "its keyscout runs" "keyscout $version" "$(env -u DISPLAY "$dir/root/usr/bin/keyscout" --version 2>&1)"
check "its man pages name the version" yes \
    "$(zcat "$dir/root/usr/share/man/man1/keyscout-list.1.gz" | grep -q "KeyScout $version" && echo yes || echo no)"
finish
