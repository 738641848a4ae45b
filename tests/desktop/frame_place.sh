#!/usr/bin/env bash
# The frame comes back where it was left, on a desktop whose work area does not start at the
# screen's corner: a virtual X server, a window manager (openbox) and a top panel that reserves
# 32 pixels. On its first start the window's outer corner (title bar included) must stand at
# 10,10 from the work area's corner. The real program is then moved and resized as a user would
# (through the window manager), closed (the exit question answered No), and started again three
# times; each time it must come back at the same place and size.
#   frame_place.sh PROGRAM
set -euo pipefail
program=$1
for tool in Xvfb openbox xdotool wmctrl /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "frame_place: $tool is missing (scripts/install-deps.sh)"; exit 1; }
done
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
# A display of our own: Xvfb picks a free number and writes it once it accepts connections.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "frame_place: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=:$(tr -d '[:space:]' <"$work/display")
mkdir -p "$work/config/openbox"
HOME=$work XDG_CONFIG_HOME=$work/config openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
# The panel once the window manager manages the screen, so it is placed as a dock.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
/usr/bin/python3 "$(dirname "$0")/panel.py" 32 >"$work/panel.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  area=$(xprop -root _NET_WORKAREA 2>/dev/null | sed -n 's/.*= *//p')
  case "$area" in "0, 32, "*) break ;; esac
  sleep 0.1
done
echo "work area: ${area:-none}"
case "$area" in "0, 32, "*) ;; *) echo "frame_place: the panel's strut did not take"; cat "$work/panel.log" "$work/openbox.log"; exit 1 ;; esac

export XDG_CONFIG_HOME=$work/settings XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"

app=
start() {
  "$program" >>"$work/program.log" 2>&1 &
  app=$!
  wid=
  for _ in $(seq 600); do
    kill -0 "$app" 2>/dev/null || break
    wid=$(xdotool search --all --onlyvisible --pid "$app" --name '^Brindlecove' 2>/dev/null | head -n1) && [ -n "$wid" ] && break
    sleep 0.1
  done
  [ -n "$wid" ] || { echo "frame_place: the window did not show"; cat "$work/program.log"; exit 1; }
  # The frame settles (the display style is applied again after 150 ms); the window is looked
  # up again until the same one shows twice in a row.
  local last=
  for _ in $(seq 50); do
    sleep 0.5
    wid=$(xdotool search --all --onlyvisible --pid "$app" --name '^Brindlecove' 2>/dev/null | head -n1) || true
    [ -n "$wid" ] && [ "$wid" = "$last" ] && break
    last=$wid
  done
}
place() { # x y w h of the client area
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  echo "$X $Y $WIDTH $HEIGHT"
}
quit() {
  wmctrl -i -c "$(printf '0x%08x' "$wid")"
  # The exit question: No.
  q=
  for _ in $(seq 100); do
    q=$(xdotool search --all --onlyvisible --pid "$app" --name '^Write us$' 2>/dev/null | head -n1) && [ -n "$q" ] && break
    sleep 0.1
  done
  [ -n "$q" ] || { echo "frame_place: no exit question"; cat "$work/program.log"; exit 1; }
  timeout 10 xdotool windowactivate --sync "$q" key --clearmodifiers Escape
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$app" 2>/dev/null; then echo "frame_place: the program did not end"; kill "$app"; exit 1; fi
  wait "$app" || true
}

outer() { # x y of the window's outer corner (its title bar and border included)
  local ext l t
  ext=$(xprop -id "$wid" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= *//p')
  l=${ext%%,*}; t=$(echo "$ext" | cut -d, -f3 | tr -d ' ')
  # xwininfo's absolute corner of the client area (xdotool's adds the frame's offset again)
  local x y
  x=$(xwininfo -id "$wid" | sed -n 's/.*Absolute upper-left X: *//p')
  y=$(xwininfo -id "$wid" | sed -n 's/.*Absolute upper-left Y: *//p')
  echo "$((x - ${l:-0})) $((y - ${t:-0}))"
}

# The first start: the frame's outer corner (not its client area, which would put the title bar
# under the panel) at 10,10 from the work area's corner.
start
first=$(outer)
echo "first run: $first (decorations: $(xprop -id "$wid" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= *//p'))"
[ "$first" = "10 42" ] || { echo "frame_place: the first run's frame is at $first, not 10 42"; exit 1; }
timeout 10 xdotool windowsize --sync "$wid" 700 480
timeout 10 xdotool windowmove --sync "$wid" 230 170
sleep 0.5
want=$(place)
echo "placed:    $want"
quit
for run in 1 2 3; do
  start
  got=$(place)
  echo "start $run:   $got"
  quit
  [ "$got" = "$want" ] || { echo "frame_place: the frame moved (wanted $want, got $got)"; grep -A6 BrindlecoveMain "$XDG_CONFIG_HOME/Halvorn/Brindlecove.conf" || true; exit 1; }
done
echo "frame_place: 2 passed, 0 failed"
