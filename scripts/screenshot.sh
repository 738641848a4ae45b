#!/usr/bin/env bash
# Takes a screenshot of the running program under a virtual X server.
#   scripts/screenshot.sh OUT.png [program arguments...]
# BC_SCREENSHOT_DELAY (seconds, default 3) sets how long the program runs first.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$1; shift
tmp=$(mktemp -d)
export XDG_CONFIG_HOME="$tmp/config" XDG_RUNTIME_DIR="$tmp/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  "$0" "${@:3}" & pid=$!
  sleep "$1"
  import -window root "$2"
  kill "$pid"; wait "$pid" 2>/dev/null || true
' ./build/bin/brindlecove "${BC_SCREENSHOT_DELAY:-3}" "$out" "$@"
rm -rf "$tmp"
echo "screenshot: $out"
