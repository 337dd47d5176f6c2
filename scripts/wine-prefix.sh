#!/usr/bin/env bash
# Prepares the Wine prefix in $WINEPREFIX for KeyScout's Windows build as a Japanese Windows
# shows it: the dialog font "ＭＳ Ｐゴシック" is IPA P Gothic (fonts-ipafont-gothic, made with
# the same metrics), and Wine draws its windows' frames itself and keeps them out of the
# window manager's hands (on a bare X server such as Xvfb there is none), with the caption
# buttons' font. Run with
# LANG=ja_JP.UTF-8 so that the ANSI code page is 932. Safe to run again.
#
# KS_WINE_DPI=120 (or 144, 192, ...) makes a prefix whose screen has that many dots per inch,
# as a Windows desk at 125 %, 150 % or 200 % has: Wine takes the system DPI from the user's
# LogPixels (HKCU\Control Panel\Desktop, before the machine-wide value under Hardware
# Profiles). One prefix keeps one DPI: a test of another DPI uses a prefix of its own.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
dpi=${KS_WINE_DPI:-96}
marker="$WINEPREFIX/.keyscout-prefix"
if [ -e "$marker" ]; then
  made=$(cat "$marker" 2>/dev/null)
  [ "${made:-96}" = "$dpi" ] && exit 0
  echo "wine-prefix.sh: $WINEPREFIX was made for ${made:-96} dpi, not $dpi" >&2
  exit 1
fi
wineboot -i >/dev/null 2>&1 || true
# The caption buttons are drawn with Marlett (fonts-wine), which this Wine does not look for
# where Debian puts it.
if [ -e /usr/share/wine/fonts/marlett.ttf ]; then
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi
wine=HKCU\\Software\\Wine
wine reg add "$wine\\Fonts\\Replacements" /v "ＭＳ Ｐゴシック" /d IPAPGothic /f >/dev/null
wine reg add "$wine\\Fonts\\Replacements" /v "ＭＳ ゴシック" /d IPAGothic /f >/dev/null
wine reg add "$wine\\X11 Driver" /v Decorated /d N /f >/dev/null
wine reg add "$wine\\X11 Driver" /v Managed /d N /f >/dev/null
wine reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
wineserver -w
echo "$dpi" > "$marker"
