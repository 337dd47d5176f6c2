#!/usr/bin/env bash
# The Linux backend against lsusb on a umockdev bed of N USB devices (default 100).
#   bench/run-linux-bench.sh [N] [benchmark flags]
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-100}
shift || true
bed=$(mktemp --suffix=.umockdev)
trap 'rm -f "$bed"' EXIT
python3 tests/platform/linux/testbeds.py many "$count" > "$bed"
umockdev-wrapper build/linux/bench/keyscout-linux-bench "$bed" "$@"
