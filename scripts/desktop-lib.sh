# Sourced by the scripts that look at the window as a person would: a private X display
# (Xvfb) with a window manager (openbox), and clean-up of everything they start.
#   start_desktop WIDTHxHEIGHT LOGDIR   sets DISPLAY; Xvfb and openbox are ended at exit
#   keep_pid PID                        ends PID at exit too (newest first)
#   wait_window NAME                    prints the id of the first visible window titled NAME
desktop_pids=()
keep_pid() { desktop_pids+=("$1"); }
end_desktop() {
  local i
  for ((i = ${#desktop_pids[@]} - 1; i >= 0; i--)); do
    kill "${desktop_pids[i]}" 2>/dev/null || true
    wait "${desktop_pids[i]}" 2>/dev/null || true
  done
  desktop_pids=()
}
start_desktop() {
  local size=$1 logs=$2 n=""
  # Xvfb picks a free display itself and names it (-displayfd): no race with other servers.
  : >"$logs/display"
  Xvfb -displayfd 1 -screen 0 "${size}x24" -nolisten tcp >"$logs/display" 2>"$logs/xvfb.log" &
  keep_pid $!
  for _ in $(seq 100); do
    n=$(tr -dc 0-9 <"$logs/display")
    [ -n "$n" ] && break
    sleep 0.1
  done
  [ -n "$n" ] || { cat "$logs/xvfb.log" >&2; echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=:$n
  xdpyinfo >/dev/null 2>&1 || { echo "Xvfb on $DISPLAY does not answer" >&2; return 1; }
  openbox >"$logs/openbox.log" 2>&1 &
  keep_pid $!
  for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && return 0; sleep 0.1; done
  echo "openbox did not start on $DISPLAY" >&2
  return 1
}
wait_window() {
  local wid=""
  for _ in $(seq 300); do  # up to 30 s: a loaded machine starts the window slowly
    wid=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    [ -n "$wid" ] && { echo "$wid"; return 0; }
    sleep 0.1
  done
  return 1
}
