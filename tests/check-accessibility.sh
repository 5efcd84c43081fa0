#!/usr/bin/env bash
# check-accessibility.sh PROGRAM: checks the program as a screen reader meets it, with a real
# AT-SPI client (check_accessibility.py) on a session bus and an accessibility bus of its own.
# Runs on the current X display, with a window manager (tests/run-x11.sh --wm). Skips (77)
# where dbus, at-spi2-core, python3-gi or gir1.2-atspi-2.0 are missing.
set -u
program=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3  # Debian's own, which has the gi bindings
launcher=/usr/libexec/at-spi-bus-launcher
if ! command -v dbus-daemon >/dev/null || ! command -v dbus-send >/dev/null || [ ! -x $launcher ] ||
  [ ! -x $python ]; then
  echo "needs dbus-daemon, dbus-send, at-spi2-core and python3"
  exit 77
fi
if ! $python -c 'import gi; gi.require_version("Atspi", "2.0"); from gi.repository import Atspi' \
  2>/dev/null; then
  echo "needs python3-gi and gir1.2-atspi-2.0"
  exit 77
fi
dir=$(mktemp -d)
pids=""
# The launcher takes its accessibility bus and registry down with it.
cleanup() {
  for pid in $pids; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$dir HOME=$dir
export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus
dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" 2>/dev/null &
pids="$!"
for _ in $(seq 100); do [ -S "$dir/bus" ] && break; sleep 0.05; done
$launcher --launch-immediately --a11y=1 2>/dev/null &
pids="$! $pids"
ready=0
for _ in $(seq 50); do
  if timeout 2 dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.a11y.Bus.GetAddress >/dev/null 2>&1; then
    ready=1
    break
  fi
  sleep 0.1
done
[ $ready = 1 ] || { echo "the accessibility bus did not start"; exit 1; }
timeout -k 5 240 $python "$here/check_accessibility.py" "$program"
