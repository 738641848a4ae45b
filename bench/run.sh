#!/usr/bin/env bash
# Runs every benchmark, prints the figures as they come and, at the end, one table of our
# figures beside their references on the same machine and data, with ratios (how many times
# faster ours is). Build first (scripts/build.sh). The SMB figures need root: a loopback
# network with a bench share is started and stopped around them.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
table=$(mktemp)
trap 'rm -f "$table"' EXIT
export BC_BENCH_TABLE=$table
"$bin/bench_core"
"$bin/bench_content" "${BC_BENCH_CONTENT_MIB:-512}"
"$bin/bench_index" "${BC_BENCH_INDEX_ENTRIES:-1000000}"
# The same index in PostgreSQL: a server of the benchmark's own on loopback (scripts/pgcluster.sh).
if ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1; then
  pg=${BC_BENCH_PG:-$PWD/build/bench-pg}
  bash scripts/pgcluster.sh up "$pg" "${BC_BENCH_PG_PORT:-55435}" >/dev/null
  trap 'bash scripts/pgcluster.sh down "$pg" >/dev/null; rm -f "$table"' EXIT
  "$bin/bench_index" "${BC_BENCH_INDEX_ENTRIES:-1000000}" "$(cat "$pg/url")"
  bash scripts/pgcluster.sh down "$pg" >/dev/null
  trap 'rm -f "$table"' EXIT
fi
if [ "$(id -u)" = 0 ]; then
  lan=${BC_BENCH_LAN:-$PWD/build/bench-lan}
  BC_TESTLAN_BENCH=1 bash scripts/testlan.sh up "$lan" >/dev/null
  trap 'bash scripts/testlan.sh down "$lan" >/dev/null; rm -f "$table"' EXIT
  HOME="$lan/client" "$bin/bench_search" --lan
  bash scripts/testlan.sh down "$lan" >/dev/null
  trap 'rm -f "$table"' EXIT
  BC_BENCH_BIN=$PWD/$bin bash bench/load.sh "${BC_BENCH_LOAD_ENTRIES:-500000}" "${BC_BENCH_LOAD_RUNS:-3}"
  BC_BENCH_BIN=$PWD/$bin bash bench/far.sh "${BC_BENCH_FAR_MS:-1}" "${BC_BENCH_FAR_RUNS:-3}"
  BC_BENCH_BIN=$PWD/$bin bash bench/farload.sh "${BC_BENCH_FAR_MS:-1}" "${BC_BENCH_FAR_RUNS:-3}"
else
  "$bin/bench_search"
fi
XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)} "$bin/bench_results"
echo
echo "| What | Brindlecove | Reference | Ratio |"
echo "|---|---|---|---|"
cat "$table"
