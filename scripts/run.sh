#!/usr/bin/env bash
# Installs what is missing, builds and starts Brindlecove.
#   scripts/run.sh          on this machine's network
#   scripts/run.sh --demo   first starts the loopback demo network (ALPHA, BETA, GAMMA; needs
#                           root) and points the program's SMB client at it
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh default
if [ "${1:-}" != --demo ]; then
  exec ./build/bin/brindlecove
fi
lan=${BC_DEMO_DIR:-$PWD/build/demo-lan}
pid=
cleanup() {
  trap - EXIT INT TERM HUP
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  bash scripts/testlan.sh down "$lan" || true
}
# However this script ends (the program closed, Ctrl+C, SIGTERM, a closed terminal), the demo
# network stops with it.
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
bash scripts/testlan.sh up "$lan"
# The SMB helpers read $HOME/.smb/smb.conf; the settings stay where they always are.
export XDG_CONFIG_HOME=${XDG_CONFIG_HOME:-$HOME/.config}
export HOME="$lan/client"
# In the background, so a signal to this script is handled at once, not after the program ends.
./build/bin/brindlecove &
pid=$!
wait "$pid"
