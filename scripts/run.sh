#!/usr/bin/env bash
# Builds KeyScout natively and starts it. Until the window lands, the program's console
# companion runs one scan of this machine and prints what it finds; pass --json, or
# --machine FILE to scan a simulated machine (tests/data/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc 2>/dev/null || echo 2)" --target keyscout-list
exec build/linux/tools/keyscout-list/keyscout-list "$@"
