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
  # It announces itself a moment before it manages windows, and a window mapped in between may
  # stay unframed. Once it lists the windows it manages (none yet), a window of our own is
  # mapped and waited for until it is framed (the frame's extents announced on it), another one
  # mapped if one stays unframed for a while, and the framed one closed again.
  probe= framed=0
  for i in $(seq 300); do
    if [ -z "$probe" ] && xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -q 'window id'; then
      xmessage -title run-x11-probe probe >/dev/null 2>&1 &
      probe=$! since=$i
    fi
    if [ -n "$probe" ]; then
      id=$(xdotool search --name '^run-x11-probe$' 2>/dev/null | head -1)
      [ -n "$id" ] && xprop -id "$id" _NET_FRAME_EXTENTS 2>/dev/null | grep -q = && framed=1 && break
      if [ $((i - since)) -ge 20 ]; then
        kill $probe 2>/dev/null; wait $probe 2>/dev/null; probe=
      fi
    fi
    sleep 0.1
  done
  [ -n "$probe" ] && kill $probe 2>/dev/null && wait $probe 2>/dev/null
  if [ $framed = 0 ]; then
    echo "run-x11.sh: openbox framed no window within 30 s" >&2
    kill $pids 2>/dev/null
    exit 1
  fi
  # Gone again before the command looks at the display's windows.
  for _ in $(seq 300); do xdotool search --name '^run-x11-probe$' >/dev/null 2>&1 || break; sleep 0.1; done
fi
"$@"
status=$?
kill $pids 2>/dev/null
wait 2>/dev/null
exit $status
