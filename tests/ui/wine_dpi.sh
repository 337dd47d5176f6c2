#!/usr/bin/env bash
# Runs a test program of the Windows build under Wine on a screen of DPI dots per inch, as a
# Windows desk at 125 % (120), 150 % (144) or 200 % (192) has:
#   wine_dpi.sh DPI PREFIX PROGRAM [ARGUMENTS...]
# PREFIX is a Wine prefix of that DPI alone, made the first time by scripts/wine-prefix.sh;
# the program learns the DPI it must find from KS_EXPECT_DPI.
set -euo pipefail
dpi=$1
prefix=$2
shift 2
export WINEPREFIX=$prefix KS_WINE_DPI=$dpi KS_EXPECT_DPI=$dpi
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
bash "$(dirname "$0")/../../scripts/wine-prefix.sh"
exec wine "$@"
