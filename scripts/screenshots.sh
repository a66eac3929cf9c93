#!/usr/bin/env bash
# Makes README's screenshots under Xvfb + openbox with the simulated meter:
#   docs/img/first-start.png  the window's first start in an empty folder (table made)
#   docs/img/recording.png    after Connect: readings in the LCD, gauge, chart and grid
#   docs/img/record-menu.png  the Record menu open (record limits)
# Needs Xvfb, openbox, xdotool and imagemagick (installed when missing) and a built build/ms42k.
#   bash scripts/screenshots.sh [OUTDIR]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$repo/docs/img}" && cd "${1:-$repo/docs/img}" && pwd)
need=()
for p in xvfb openbox xdotool imagemagick x11-utils; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
[ -x "$repo/build/ms42k" ] || { echo "screenshots: build the program first (cmake --build build --target ms42k)"; exit 1; }

tmp=$(mktemp -d)
. "$repo/scripts/desktop-lib.sh"
trap 'end_desktop; rm -rf "$tmp"' EXIT
export HOME=$tmp/home XDG_RUNTIME_DIR=$tmp/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$tmp/work" && chmod 700 "$XDG_RUNTIME_DIR"
start_desktop 1024x720 "$tmp" || { echo "screenshots: no desktop to take them on"; exit 1; }

# The window as a first start in an empty folder, with the simulated cable plugged in.
(cd "$tmp/work" && exec "$repo/build/ms42k" --simulate) >"$tmp/ms42k.log" 2>&1 &
keep_pid $!
wid=$(wait_window "MS42K") || { cat "$tmp/ms42k.log"; echo "screenshots: the window did not appear"; exit 1; }
sleep 2
shot() { import -window root "$out/$1"; echo "screenshots: $out/$1"; }
shot first-start.png

# Connect: the top-left button just below the menu bar (window coordinates, menu bar ~23 px).
xdotool mousemove --window "$wid" 45 37 click 1
sleep 6
shot recording.png

# The Record menu, opened with the mouse on its title.
xdotool mousemove --window "$wid" 45 10 click 1
sleep 1
shot record-menu.png
xdotool key Escape
