#!/usr/bin/env bash
# Prepares the Wine prefix in $WINEPREFIX for KeyScout's Windows build as a Japanese Windows
# shows it: the dialog font "ＭＳ Ｐゴシック" is IPA P Gothic (fonts-ipafont-gothic, made with
# the same metrics), and Wine draws its windows' frames itself and keeps them out of the
# window manager's hands (on a bare X server such as Xvfb there is none), with the caption
# buttons' font. Run with
# LANG=ja_JP.UTF-8 so that the ANSI code page is 932. Safe to run again.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
marker="$WINEPREFIX/.keyscout-prefix"
[ -e "$marker" ] && exit 0
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
wineserver -w
touch "$marker"
