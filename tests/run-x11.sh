#!/usr/bin/env bash
# run-x11.sh [--wm] [--screen WxH] COMMAND...: runs COMMAND on a fresh Xvfb display at 96 dpi
# (1280x1024 unless --screen says otherwise), with openbox as window manager when --wm is
# given, and exits with the command's status.
set -u
wm=0
screen=1280x1024
while :; do
  case "${1:-}" in
    --wm) wm=1; shift ;;
    --screen) screen=$2; shift 2 ;;
    *) break ;;
  esac
done
. "$(dirname "$0")/needs.sh"
needs xvfb Xvfb
needs x11-utils xprop
needs xdotool xdotool
[ $wm = 0 ] || needs openbox openbox
fifo=$(mktemp -u); mkfifo "$fifo"
Xvfb -displayfd 5 -screen 0 ${screen}x24 -dpi 96 -nolisten tcp -noreset 5>"$fifo" 2>/dev/null &
xvfb=$!
read -r display <"$fifo"; rm -f "$fifo"
export DISPLAY=":$display"
unset QT_QPA_PLATFORM
pids=$xvfb
if [ $wm = 1 ]; then
  export RUN_X11_WM=openbox
  openbox >/dev/null 2>&1 &
  pids="$pids $!"
  for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
  sleep 1  # it announces itself a moment before it manages windows
fi
"$@"
status=$?
kill $pids 2>/dev/null
wait 2>/dev/null
exit $status
