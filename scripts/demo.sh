#!/usr/bin/env bash
# Starts the loopback demo network (ALPHA, BETA, GAMMA; needs root), then the program pointed at
# it, and stops the network however this ends: the program closed, Ctrl+C, SIGTERM, a closed
# terminal.
#   scripts/demo.sh PROGRAM [arguments...]       (BC_DEMO_DIR: where the network lives)
set -euo pipefail
cd "$(dirname "$0")/.."
program=$1; shift
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
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
bash scripts/testlan.sh up "$lan"
# The SMB helpers read $HOME/.smb/smb.conf; the settings stay where they always are.
export XDG_CONFIG_HOME=${XDG_CONFIG_HOME:-$HOME/.config}
export HOME="$lan/client"
# Discover's WS-Discovery probe stays on loopback, with the demo network.
export BC_WSD_INTERFACES=lo
# In the background, so a signal to this script is handled at once, not after the program ends.
"$program" "$@" &
pid=$!
wait "$pid"
