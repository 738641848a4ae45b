#!/usr/bin/env bash
# Configures and builds with a CMake preset (default: "default"; also ci, asan, tsan).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
shift || true
cmake --preset "$preset" "$@" >/dev/null
dir=$(sed -n "/\"name\": \"$preset\"/,/binaryDir/s/.*\"binaryDir\": \"\([^\"]*\)\".*/\1/p" CMakePresets.json | head -n1)
cmake --build "${dir:-build}" -j"$(nproc)"
