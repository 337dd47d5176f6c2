#!/usr/bin/env bash
# The programs tell the project's version as a Unix program does: one line, exit code 0.
#   version_cli.sh VERSION KEYSCOUT_LIST KEYSCOUT|- [RUNNER]
# VERSION is the version of project() in CMakeLists.txt. KEYSCOUT is the Linux program ("-"
# for the Windows build, whose KeyScout.exe takes no command line).
set -u
version=$1
tool=$2
program=$3
run=${4:-}
source "$(dirname "$0")/../support/checks.sh"
out=$(timeout 60 $run "$tool" --version 2>&1); rc=$?
out=${out//$'\r'/}
check "keyscout-list --version names the project's version" "keyscout-list $version" "$out"
check "... and exits with 0" 0 "$rc"
help=$(timeout 60 $run "$tool" --help 2>/dev/null | tr -d '\r')
check "--help shows --version" yes "$(grep -q -- '--version' <<<"$help" && echo yes || echo no)"
check "... and the exit codes" yes "$(grep -q '2 a usage error' <<<"$help" && echo yes || echo no)"
if [ "$program" != - ]; then
    # No display: the version must not depend on one, and must not start the window.
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 "$program" --version 2>&1); rc=$?
    check "keyscout --version names the project's version" "keyscout $version" "$out"
    check "... and exits with 0" 0 "$rc"
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 "$program" --bogus 2>&1); rc=$?
    check "keyscout with an unknown argument is a usage error" 2 "$rc"
    check "... that names it" yes "$(grep -q "unknown argument '--bogus'" <<<"$out" && echo yes || echo no)"
fi
finish
