#!/usr/bin/env bash
# Makes the release of the commit that is checked out, into dist/:
#   KeyScout-<version>-win32.zip   KeyScout.exe, keyscout-list.exe, the licences, the history,
#                                  a read-me
#   keyscout_<version>_amd64.deb   the Linux programs, man pages, desktop entry and icons
#   SHA256SUMS                     the SHA-256 of both
#   BUILDINFO.txt                  the commit and the tools that made them
#
#   bash scripts/release.sh          two builds, compared, then checked (about 20 min here)
#   bash scripts/release.sh --once   one build, checked, not compared (to try the packaging)
#
# Each build starts from a clean copy of the commit (git archive) in a folder of its own,
# with nothing of this machine's environment that could reach the result: no compiler
# launcher (ccache), no CFLAGS, the C locale, UTC, umask 022, and SOURCE_DATE_EPOCH from the
# commit, which dates every file in the archives. The second build runs in another folder at
# a later time; the two must give the same bytes, or nothing is written to dist/. Then the
# files of the first are checked as a user meets them: lintian finds no error in the .deb,
# its programs run in a root that holds nothing but the package and what it declares it
# depends on, and the zip's programs run under Wine, each alone in a folder.
# Installs what is missing first (it needs root or sudo for that).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

once=0
case "${1:-}" in
  --once) once=1 ;;
  "") ;;
  *) echo "usage: bash scripts/release.sh [--once]" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh

commit=$(git rev-parse HEAD)
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: the working tree has changes that are not committed; the release is made of" \
       "commit ${commit:0:12} without them" >&2
fi
version=$(git show "$commit:CMakeLists.txt" | sed -n 's/^project(KeyScout VERSION \([0-9.]*\).*/\1/p')
[ -n "$version" ] || { echo "release: no version in CMakeLists.txt's project()" >&2; exit 1; }
zip_name="KeyScout-$version-win32.zip"
deb_name="keyscout_${version}_amd64.deb"

export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
export TZ=UTC LC_ALL=C.UTF-8 LANG=C.UTF-8
umask 022
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER CMAKE_GENERATOR CMAKE_BUILD_TYPE \
      CFLAGS CXXFLAGS CPPFLAGS LDFLAGS MAKEFLAGS DESTDIR CCACHE_DIR CCACHE_BASEDIR \
      CCACHE_NOHASHDIR CCACHE_MAXSIZE
jobs=$(nproc 2>/dev/null || echo 2)

work=$(mktemp -d "${TMPDIR:-/tmp}/keyscout-release.XXXXXX")
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  [ "${KS_KEEP_RELEASE_WORK:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT

# build DIR: the release files of $commit in DIR/out.
build() {
  local dir=$1 src=$1/src out=$1/out
  mkdir -p "$src" "$out" "$dir/zip/KeyScout-$version"
  git -C "$repo" archive --format=tar "$commit" | tar -x -C "$src"
  echo "=== release: Linux build in $src"
  (cd "$src" && cmake --preset release-linux >/dev/null &&
     cmake --build --preset release-linux -j "$jobs" &&
     cd build/release-linux && cpack -G DEB >/dev/null)
  cp "$src/build/release-linux/$deb_name" "$out/"
  echo "=== release: Windows build in $src"
  (cd "$src" && cmake --preset release-win32 >/dev/null &&
     cmake --build --preset release-win32 -j "$jobs" --target KeyScout keyscout-list)
  local z=$dir/zip/KeyScout-$version
  cp "$src/build/release-win32/app/KeyScout.exe" "$src/build/release-win32/tools/keyscout-list/keyscout-list.exe" "$z/"
  cp "$src/docs/keyscout-list.schema.json" "$z/"
  python3 "$src/scripts/release_tools.py" windows-text "$src/packaging/windows/README.txt.in" "$z/README.txt" "$version"
  python3 "$src/scripts/release_tools.py" windows-text "$src/LICENSE" "$z/LICENSE.txt" "$version"
  python3 "$src/scripts/release_tools.py" windows-text "$src/CHANGELOG.md" "$z/CHANGELOG.txt" "$version"
  python3 "$src/scripts/release_tools.py" windows-text "$src/packaging/windows/THIRD-PARTY-NOTICES.txt" "$z/THIRD-PARTY-NOTICES.txt" "$version"
  python3 "$src/scripts/release_tools.py" zip "$out/$zip_name" "$z" "$SOURCE_DATE_EPOCH"
  (cd "$out" && sha256sum "$zip_name" "$deb_name" > SHA256SUMS)
}

first=$(date +%s)
build "$work/a"
if [ "$once" -eq 0 ]; then
  # Another folder, another time: nothing of either may reach the files.
  sleep 2
  second=$(date +%s)
  build "$work/b"
  echo "=== release: the two builds"
  if ! cmp -s "$work/a/out/SHA256SUMS" "$work/b/out/SHA256SUMS"; then
    echo "FAILED: two builds of ${commit:0:12} differ:" >&2
    diff "$work/a/out/SHA256SUMS" "$work/b/out/SHA256SUMS" >&2 || true
    for f in app/KeyScout.exe tools/keyscout-list/keyscout-list.exe; do
      cmp -s "$work/a/src/build/release-win32/$f" "$work/b/src/build/release-win32/$f" ||
        echo "  differs: $f" >&2
    done
    for f in keyscout tools/keyscout-list/keyscout-list; do
      [ "$f" = keyscout ] && f=app/keyscout
      cmp -s "$work/a/src/build/release-linux/$f" "$work/b/src/build/release-linux/$f" ||
        echo "  differs: $f (Linux)" >&2
    done
    echo "  both trees are kept in $work (diffoscope shows where)" >&2
    KS_KEEP_RELEASE_WORK=1
    exit 1
  fi
  for f in app/KeyScout.exe tools/keyscout-list/keyscout-list.exe; do
    cmp "$work/a/src/build/release-win32/$f" "$work/b/src/build/release-win32/$f"
  done
  echo "ok: the same bytes from two builds: in $work/a from $(date -u -d "@$first" +%T)," \
       "in $work/b from $(date -u -d "@$second" +%T) UTC"
  sed 's/^/  /' "$work/a/out/SHA256SUMS"
fi

out=$work/a/out
src=$work/a/src  # the checks are those of the commit too
status=0
ok() { echo "ok: $1"; }
bad() { echo "FAILED: $1"; status=1; }

echo "=== release: checks"
# lintian: no error (warnings are shown).
if lintian --fail-on error "$out/$deb_name"; then
  ok "lintian reports no error on $deb_name"
else
  bad "lintian reports errors on $deb_name"
fi

# The .deb's files in a root with nothing but what it declares it depends on.
root=$work/root
mkdir -p "$root/tmp"
python3 "$src/scripts/release_tools.py" deb-root "$out/$deb_name" "$root"
cp "$src/tests/data/example-small.json" "$root/tmp/"
chroot=$(command -v chroot)
in_root() { env -i PATH=/usr/bin timeout 60 "$chroot" "$root" "$@"; }
[ "$(in_root /usr/bin/keyscout-list --version 2>&1)" = "keyscout-list $version" ] &&
  ok "keyscout-list --version from the package" || bad "keyscout-list --version from the package"
[ "$(in_root /usr/bin/keyscout --version 2>&1)" = "keyscout $version" ] &&
  ok "keyscout --version from the package" || bad "keyscout --version from the package"
expected=$("$src/build/release-linux/tools/keyscout-list/keyscout-list" --json --machine "$src/tests/data/example-small.json")
[ "$(in_root /usr/bin/keyscout-list --json --machine /tmp/example-small.json 2>&1)" = "$expected" ] &&
  ok "keyscout-list --machine from the package lists the fixture" ||
  bad "keyscout-list --machine from the package lists the fixture"
in_root /usr/bin/keyscout > "$work/keyscout.out" 2>&1 &&
  ok "keyscout without a display from the package ends with 0" ||
  bad "keyscout without a display from the package ends with 0: $(cat "$work/keyscout.out")"
for page in keyscout keyscout-list; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] && ok "man page $page(1) formats without a warning" || bad "man page $page(1): $warnings"
done

# The zip: the files a Windows user gets, CRLF texts, and each program alone in a folder
# under Wine (LANG=ja_JP.UTF-8: a Japanese Windows' code page 932).
unzipped=$work/unzipped
mkdir -p "$unzipped"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$out/$zip_name" "$unzipped"
listing=$(cd "$unzipped" && find . -type f | sort | tr '\n' ' ')
want="./KeyScout-$version/CHANGELOG.txt ./KeyScout-$version/KeyScout.exe ./KeyScout-$version/LICENSE.txt ./KeyScout-$version/README.txt ./KeyScout-$version/THIRD-PARTY-NOTICES.txt ./KeyScout-$version/keyscout-list.exe ./KeyScout-$version/keyscout-list.schema.json "
[ "$listing" = "$want" ] && ok "the zip holds the programs, the licences, the history, the read-me and the schema" ||
  bad "the zip holds: $listing"
for t in README.txt LICENSE.txt CHANGELOG.txt THIRD-PARTY-NOTICES.txt; do
  if python3 - "$unzipped/KeyScout-$version/$t" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
sys.exit(0 if data.count(b"\n") > 0 and data.count(b"\n") == data.count(b"\r\n") and data.endswith(b"\r\n") else 1)
EOF
  then ok "$t has CRLF line ends"; else bad "$t has CRLF line ends"; fi
done
bash "$src/tests/ui/exe_imports.sh" "$unzipped/KeyScout-$version/KeyScout.exe" i686-w64-mingw32-objdump >/dev/null &&
  ok "KeyScout.exe is a 32-bit GUI program that imports only system DLLs" ||
  bad "KeyScout.exe is a 32-bit GUI program that imports only system DLLs"

# An X server of the checks' own, there before Wine's first program: the desktop process
# that Wine starts with it serves every later window.
for n in $(seq 140 199); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY=$display
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=$work/wineprefix
bash "$src/scripts/wine-prefix.sh"
for exe in KeyScout.exe keyscout-list.exe; do
  mkdir -p "$work/alone-$exe" && cp "$unzipped/KeyScout-$version/$exe" "$work/alone-$exe/"
done
alone=$work/alone-keyscout-list.exe
cp "$src/tests/data/example-small.json" "$work/fixture.json"
[ "$(cd "$alone" && timeout 120 wine keyscout-list.exe --version 2>/dev/null | tr -d '\r')" = "keyscout-list $version" ] &&
  ok "keyscout-list.exe --version under Wine, alone in its folder" ||
  bad "keyscout-list.exe --version under Wine, alone in its folder"
got=$(cd "$alone" && timeout 120 wine keyscout-list.exe --json --machine "$(winepath -w "$work/fixture.json")" 2>/dev/null | tr -d '\r')
[ "$got" = "$expected" ] && ok "keyscout-list.exe --json --machine under Wine lists the fixture as Linux does" ||
  bad "keyscout-list.exe --json --machine under Wine lists the fixture as Linux does"
[ "$(ls -A "$alone")" = keyscout-list.exe ] && ok "... and writes nothing beside itself" ||
  bad "keyscout-list.exe wrote into its folder: $(ls -A "$alone" | tr '\n' ' ')"

# KeyScout.exe shows its window and ends on Escape.
(cd "$work/alone-KeyScout.exe" && exec wine KeyScout.exe) & program=$!
window=""
for _ in $(seq 1 600); do
  window=$(xdotool search --onlyvisible --name '^KeyScout$' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
if [ -n "$window" ]; then
  ok "KeyScout.exe under Wine, alone in its folder, shows its window"
  sleep 1
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  xdotool key --clearmodifiers Escape
  ended=""
  for _ in $(seq 1 200); do
    if ! kill -0 "$program" 2>/dev/null; then wait "$program" && ended=0 || ended=$?; break; fi
    sleep 0.1
  done
  if [ "$ended" = 0 ]; then ok "... and ends with 0 on Escape"
  else kill "$program" 2>/dev/null || true; bad "... and ends with 0 on Escape (${ended:-still running})"; fi
else
  kill "$program" 2>/dev/null || true
  bad "KeyScout.exe under Wine, alone in its folder, shows its window (none within 60 s)"
fi
[ "$(ls -A "$work/alone-KeyScout.exe")" = KeyScout.exe ] && ok "... and writes nothing beside itself" ||
  bad "KeyScout.exe wrote into its folder: $(ls -A "$work/alone-KeyScout.exe" | tr '\n' ' ')"

if [ "$status" -ne 0 ]; then
  echo "release: checks failed; nothing is written to dist/" >&2
  exit 1
fi

mkdir -p "$repo/dist"
rm -f "$repo/dist/$zip_name" "$repo/dist/$deb_name" "$repo/dist/SHA256SUMS" "$repo/dist/BUILDINFO.txt"
cp "$out/$zip_name" "$out/$deb_name" "$out/SHA256SUMS" "$repo/dist/"
{
  echo "KeyScout $version"
  echo "commit $commit"
  echo "SOURCE_DATE_EPOCH $SOURCE_DATE_EPOCH ($(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'))"
  echo "compared with a second build: $([ "$once" -eq 0 ] && echo yes || echo no)"
  echo "built with (Debian $(cat /etc/debian_version)):"
  dpkg-query -W -f='  ${Package} ${Version}\n' cmake ninja-build g++-12 binutils \
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev qt6-base-dev \
    libudev-dev nlohmann-json3-dev dpkg-dev 2>/dev/null
} > "$repo/dist/BUILDINFO.txt"
echo "release: dist/ holds KeyScout $version of ${commit:0:12}:"
sed 's/^/  /' "$repo/dist/SHA256SUMS"
