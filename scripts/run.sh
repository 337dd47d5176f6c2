#!/usr/bin/env bash
# Builds KeyScout natively and starts it: its window on this Linux desktop (the Qt build).
# Without a display it says so and prints the list of the USB devices connected now instead;
# the console companion is build/linux/tools/keyscout-list/keyscout-list (--json,
# --machine FILE, --watch, --capture FILE).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc 2>/dev/null || echo 2)" --target keyscout keyscout-list
exec build/linux/app/keyscout
