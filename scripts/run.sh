#!/usr/bin/env bash
# Installs what is missing, builds and starts Brindlecove.
#   scripts/run.sh          on this machine's network
#   scripts/run.sh --demo   first starts the loopback demo network (ALPHA, BETA, GAMMA; needs
#                           root) and points the program's SMB client at it
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh default
if [ "${1:-}" = --demo ]; then
  exec bash scripts/demo.sh ./build/bin/brindlecove
fi
exec ./build/bin/brindlecove
