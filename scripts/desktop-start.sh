#!/usr/bin/env bash
# Starts the installed program the way the desktop menu does, for a user with an empty home:
# installs the build into a scratch prefix, takes Exec= (and Path=, if any) from the installed
# desktop entry, runs it under Xvfb + openbox, shows the window's log strip, takes a screenshot
# and checks that the record table was made in the user's folder.
#   bash scripts/desktop-start.sh [SHOT.png]   (default docs/img/desktop-start.png)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
shot=${1:-$repo/docs/img/desktop-start.png}
tmp=$(mktemp -d)
. "$repo/scripts/desktop-lib.sh"
trap 'end_desktop; rm -rf "$tmp"' EXIT
cmake --install "$repo/build" --prefix "$tmp/usr" >/dev/null
entry=$tmp/usr/share/applications/ms42k.desktop
exec_line=$(sed -n 's/^Exec=//p' "$entry" | sed 's/ *%[fFuUdDnNickvm]//g')
path_line=$(sed -n 's/^Path=//p' "$entry")
echo "desktop-start: Exec=$exec_line${path_line:+  Path=$path_line}"

export HOME=$tmp/home XDG_RUNTIME_DIR=$tmp/run PATH=$tmp/usr/bin:$PATH
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
start_desktop 1024x768 "$tmp" || { echo "desktop-start: no desktop to start it on"; exit 1; }
# A desktop starts the entry from the user's home unless Path= says otherwise.
read -r -a cmd <<<"$exec_line"
(cd "${path_line:-$HOME}" && exec "${cmd[@]}") >"$tmp/ms42k.log" 2>&1 &
program=$!
keep_pid $program
wid=$(wait_window "MS42K") || { cat "$tmp/ms42k.log"; echo "desktop-start: the window did not appear"; exit 1; }
sleep 1
# Taller than at start, so that the log strip below the grid is in view.
xdotool windowsize "$wid" 717 700
sleep 2
import -window root "$shot"
echo "desktop-start: screenshot $shot"
echo "desktop-start: the program's working folder: $(readlink "/proc/$program/cwd" | sed "s|^$HOME|~|")"
ls -l "$HOME/Documents/ms42k"
[ -s "$HOME/Documents/ms42k/Ms35fdb.DB" ] || { echo "desktop-start: no record table in ~/Documents/ms42k"; exit 1; }
cmp -s "$HOME/Documents/ms42k/Ms35fdb.DB" "$tmp/usr/share/ms42k/Ms35fdb.DB" && echo "desktop-start: table made from the installed template"
