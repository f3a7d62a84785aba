#!/usr/bin/env bash
# Configures and builds the cross build (and with --native the sanitizer/fuzz build).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset windows >/dev/null
cmake --build --preset windows
if [[ "${1:-}" == "--native" ]]; then
    cmake --preset native >/dev/null
    cmake --build --preset native
fi
