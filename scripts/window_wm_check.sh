#!/usr/bin/env bash
# The window as a person sees it under a real window manager: starts Xvfb and openbox, runs
# ms42k, checks the start-up outer height (520, frame included) and takes two screenshots:
# at the start-up size and at the designed client size (717 x 596 below the menu bar).
#   scripts/window_wm_check.sh [BUILD_DIR] [OUT_DIR]     (defaults: build, /tmp/ms42k-wm)
# MENU_HEIGHT (default 22) is the menu bar's height with the default fonts.
# Exit 0: checks passed; 1: a check failed; 77: a needed program is missing.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
out=${2:-/tmp/ms42k-wm}
menu=${MENU_HEIGHT:-22}
for tool in Xvfb openbox xdotool xwininfo xprop import convert; do
  command -v "$tool" >/dev/null || { echo "window_wm_check: $tool is missing"; exit 77; }
done
mkdir -p "$out"
work=$(mktemp -d)
cp "$here/data/Ms35fdb.DB" "$work/"
display=""
for n in $(seq 90 120); do
  [ -e /tmp/.X$n-lock ] || { display=:$n; break; }
done
[ -n "$display" ] || { echo "window_wm_check: no free display"; exit 77; }
pids=()
cleanup() {
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[$i]}" 2>/dev/null; wait "${pids[$i]}" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb "$display" -screen 0 1280x1024x24 >"$out/xvfb.log" 2>&1 & pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; xprop -root >/dev/null 2>&1 && break; sleep 0.1; done
openbox >"$out/openbox.log" 2>&1 & pids+=($!)
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
(cd "$work" && QT_QPA_PLATFORM=xcb exec "$build/ms42k") >"$out/ms42k.log" 2>&1 & pids+=($!)
win=""
for _ in $(seq 100); do
  win=$(xdotool search --name "MS42K Interface Program" 2>/dev/null | head -1)
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "window_wm_check: the window did not appear"; exit 1; }
fail=0
geometry() {  # prints: client-x client-y client-width client-height frame-top frame-bottom
  local ext x y w h
  ext=$(xprop -id "$win" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ' ')
  x=$(xwininfo -id "$win" | sed -n 's/.*Absolute upper-left X: *//p')
  y=$(xwininfo -id "$win" | sed -n 's/.*Absolute upper-left Y: *//p')
  w=$(xwininfo -id "$win" | sed -n 's/.*Width: *//p')
  h=$(xwininfo -id "$win" | sed -n 's/.*Height: *//p')
  IFS=, read -r _ _ t b <<<"${ext:-0,0,0,0}"
  echo "$x $y $w $h $t $b"
}
# The window manager decorates the window after it is shown; the program then sets its
# outer height again. Wait for that to settle.
for _ in $(seq 50); do
  read -r x y w h t b < <(geometry)
  [ "$t" -gt 0 ] && [ $((h + t + b)) -eq 520 ] && break
  sleep 0.1
done
read -r x y w h t b < <(geometry)
echo "start-up: client ${w}x${h}, frame top $t bottom $b, outer height $((h + t + b))"
[ $((h + t + b)) -eq 520 ] || { echo "FAIL: outer height $((h + t + b)), not 520"; fail=1; }
import -window root "$out/full-start.png"
convert "$out/full-start.png" -crop "$((w + 4))x$((h + t + b + 2))+$((x - 2))+$((y - t - 1))" "$out/start-up.png"
xdotool windowsize "$win" 717 $((596 + menu))
sleep 1
read -r x y w h t b < <(geometry)
echo "designed: client ${w}x${h} (central area $((h - menu)) below a ${menu}-pixel menu bar)"
import -window root "$out/full-designed.png"
convert "$out/full-designed.png" -crop "$((w + 4))x$((h + t + b + 2))+$((x - 2))+$((y - t - 1))" "$out/designed.png"
rm -f "$out/full-start.png" "$out/full-designed.png"
echo "screenshots: $out/start-up.png $out/designed.png"
exit $fail
