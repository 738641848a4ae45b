#!/usr/bin/env bash
# Runs every benchmark and prints the figures: build first (scripts/build.sh). The SMB figures
# need root: a loopback network with a bench share is started and stopped around them.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
"$bin/bench_core"
if [ "$(id -u)" = 0 ]; then
  lan=${BC_BENCH_LAN:-$PWD/build/bench-lan}
  BC_TESTLAN_BENCH=1 bash scripts/testlan.sh up "$lan" >/dev/null
  trap 'bash scripts/testlan.sh down "$lan" >/dev/null' EXIT
  HOME="$lan/client" "$bin/bench_search" --lan
else
  "$bin/bench_search"
fi
XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)} "$bin/bench_results"
