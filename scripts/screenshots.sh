#!/usr/bin/env bash
# Takes the README's screenshots under a virtual X server, driving the program as a user would
# (keyboard through xdotool) against the loopback demo network. Needs root (the network).
#   scripts/screenshots.sh [OUTDIR]        (default docs/images)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(mkdir -p "${1:-docs/images}" && cd "${1:-docs/images}" && pwd)
lan=${BC_DEMO_DIR:-$PWD/build/demo-lan}
bash scripts/testlan.sh up "$lan" >/dev/null
trap 'bash scripts/testlan.sh down "$lan" >/dev/null' EXIT
tmp=$(mktemp -d)
export XDG_CONFIG_HOME="$tmp/config" XDG_RUNTIME_DIR="$tmp/runtime" HOME="$lan/client"
# Discover's WS-Discovery probe stays on loopback, with the demo network.
export BC_WSD_INTERFACES=lo
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
xvfb-run -a -s "-screen 0 1100x720x24" bash -c '
  set -e
  out=$1
  ./build/bin/brindlecove & pid=$!
  sleep 3
  win=$(xdotool search --sync --pid $pid --name "^Brindlecove" | head -n1)
  xdotool windowmove "$win" 0 0 windowsize "$win" 1100 720
  # No window manager: give the program the keyboard ourselves.
  focus() { xdotool windowfocus --sync "$(xdotool search --sync --pid $pid --onlyvisible --name . | tail -n1)" 2>/dev/null || true; }
  xdotool windowfocus --sync "$win"
  sleep 1
  import -window root "$out/mainframe.png"
  xdotool key alt+n; sleep 0.7
  import -window root "$out/menu128.png"
  xdotool key Escape; sleep 0.3
  # Network > Discover Network structure, then OK in the question.
  xdotool key alt+n; sleep 0.5; xdotool key Return; sleep 1
  focus; xdotool key Return; sleep 0.3
  import -window root "$out/discovering.png"
  sleep 3
  focus; xdotool key Return; sleep 1              # "Network tree has been updated!"
  xdotool windowfocus --sync "$win"
  import -window root "$out/discovered.png"
  # A search from the root (the start node after a discovery): the pattern box, "*.txt", Enter.
  xdotool mousemove 88 130 click 1; sleep 0.3
  xdotool key ctrl+a; xdotool type --delay 40 "*.txt"; xdotool key Return; sleep 4
  focus; xdotool key Return; sleep 1              # "Search finished. N files found."
  import -window root "$out/results.png"
  xdotool windowfocus --sync "$win"; xdotool key alt+f; sleep 0.7
  import -window root "$out/menu129.png"
  xdotool key Escape; sleep 0.3
  kill $pid; wait $pid 2>/dev/null || true
  # A second run with the Network Log in auto-hide at the bottom; the pointer on its tab.
  conf="$XDG_CONFIG_HOME/Halvorn/Brindlecove.conf"
  mkdir -p "$(dirname "$conf")"
  printf "[GuiTabbed-Bar2455]\nAutoHide=1\nAling=32768\n" >> "$conf"
  ./build/bin/brindlecove & pid=$!
  sleep 3
  win=$(xdotool search --sync --pid $pid --name "^Brindlecove" | head -n1)
  xdotool windowmove "$win" 0 0 windowsize "$win" 1100 720; sleep 1
  tab=$(xdotool search --pid $pid --name "." 2>/dev/null | head -n1)
  xdotool mousemove 40 683; sleep 1
  import -window root "$out/autohide.png"
  kill $pid; wait $pid 2>/dev/null || true
' _ "$out"
rm -rf "$tmp"
echo "screenshots in $out"
