#!/usr/bin/env bash
# The test network's guards, as a person meets them:
#  1. testlan.sh up refuses, naming the culprit, when its addresses are already served by a
#     server it did not start;
#  2. demo.sh stops its network and the program when it gets SIGTERM.
#   guards.sh SOURCE_DIR PROGRAM WORK_DIR
set -uo pipefail
src=$1 program=$2 work=$3
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work"; mkdir -p "$work"

# 1. A foreign listener on BETA's port 139.
python3 -c "import socket,time
s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.12',139)); s.listen(4); print('up', flush=True); time.sleep(60)" > "$work/listener.out" &
listener=$!
trap 'kill $listener 2>/dev/null' EXIT
for _ in $(seq 50); do grep -q up "$work/listener.out" && break; sleep 0.1; done
out=$(bash "$src/scripts/testlan.sh" up "$work/lan1" 2>&1) && fail "testlan up started beside a foreign server"
echo "$out" | grep -q "already served by daemons this script did" || fail "no clear message: $out"
echo "$out" | grep -q "127.0.0.12:139" || fail "the culprit is not named: $out"
[ -z "$(pgrep -f "$work/lan1/hosts" || true)" ] || fail "daemons left after the refusal"
kill $listener; wait $listener 2>/dev/null
echo "ok 1: testlan up refuses beside a foreign server"

# 2. SIGTERM to the demo.
BC_DEMO_DIR="$work/demo" QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" \
    bash "$src/scripts/demo.sh" "$program" > "$work/demo.log" 2>&1 &
demo=$!
for _ in $(seq 120); do grep -q "testlan: up" "$work/demo.log" && break; sleep 1; done
grep -q "testlan: up" "$work/demo.log" || fail "the demo network did not start: $(cat "$work/demo.log")"
sleep 1
[ -n "$(pgrep -f "$work/demo/hosts" || true)" ] || fail "no demo daemons"
kill -0 $demo || fail "the demo ended early"
kill -TERM $demo
for _ in $(seq 100); do kill -0 $demo 2>/dev/null || break; sleep 0.1; done
kill -0 $demo 2>/dev/null && fail "demo.sh still runs 10 s after SIGTERM"
[ -z "$(pgrep -f "$work/demo/hosts" || true)" ] || fail "demo daemons left after SIGTERM"
[ -z "$(pgrep -fx "$program" || true)" ] || fail "the program still runs"
echo "ok 2: demo.sh stops its network on SIGTERM"
echo "2 passed, 0 failed"
