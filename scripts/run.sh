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
  lan=${BC_DEMO_DIR:-$PWD/build/demo-lan}
  bash scripts/testlan.sh up "$lan"
  trap 'bash scripts/testlan.sh down "$lan"' EXIT
  # libsmbclient reads $HOME/.smb/smb.conf; the settings stay where they always are.
  export XDG_CONFIG_HOME=${XDG_CONFIG_HOME:-$HOME/.config}
  export HOME="$lan/client"
fi
./build/bin/brindlecove
