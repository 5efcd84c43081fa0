#!/usr/bin/env bash
# screenshots-windows.sh BUILD_DIR OUT_DIR: runs a Windows build's Kelvarion1.exe under Wine on
# Xvfb with openbox, opens its three windows as a user would, and saves each, frame and all:
# windows-main.png, windows-test.png, windows-about.png with the mouse, then About and the test
# window again from the keyboard, which shows the focus (windows-about-keyboard.png,
# windows-test-keyboard.png). Needs Wine, xdotool and ImageMagick's import; the clicks go where
# win-probe.exe (from the same build) says the windows are.
set -eu
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/../tests/run-x11.sh" --wm "$here/../tests/run-wine.sh" bash -c '
  set -eu
  build=$1 out=$2
  # Keyboard cues as Windows has them unless the user asks otherwise: hidden until the keyboard
  # is used (Wine shows them always).
  wine reg add "HKCU\\Control Panel\\Desktop" /v UserPreferencesMask /t REG_BINARY \
    /d 1000028012000000 /f >/dev/null 2>&1
  wine "$build/Kelvarion1.exe" & launcher=$!
  find() {
    for _ in $(seq 300); do
      w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1)
      [ -n "$w" ] && { sleep 0.5; echo "$w"; return; }
      sleep 0.05
    done
    echo "no window $1" >&2; exit 1
  }
  # Clicks at X, Y pixels in the inner area of the window with this caption.
  click() {
    local at
    at=$(wine "$build/tools/win-probe.exe" Kelvarion1.exe |
         awk -F "\t" -v c="caption=$1" "\$1 == \"window\" && \$2 == c { sub(\"clientAt=\", \"\", \$7); print \$7 }")
    xdotool mousemove $(( ${at%,*} + $2 )) $(( ${at#*,} + $3 )) click 1
  }
  shot() {  # the window with the frame the window manager draws around it
    local w=$1 f=$2 parent
    parent=$(xwininfo -children -id "$w" | sed -n "s/^  Parent window id: \(0x[0-9a-f]*\).*/\1/p")
    if [ -n "$parent" ] && [ "$(xwininfo -id "$parent" | grep -c "Root window")" = 0 ]; then w=$parent; fi
    import -window "$w" "$f"
  }
  main=$(find "^Kelvarion 1.0$")
  shot "$main" "$out/windows-main.png"
  click "Kelvarion 1.0" 180 132        # About...
  about=$(find "^About Kelvarion$")
  shot "$about" "$out/windows-about.png"
  click "About Kelvarion" 181 77       # OK
  sleep 0.5
  click "Kelvarion 1.0" 180 100        # Begin Fractal Testing!
  test=$(find "^Generating Fractals...$")
  sleep 1.5
  shot "$test" "$out/windows-test.png"
  click "Generating Fractals..." 208 436   # Stop!!
  sleep 0.5
  # From the keyboard: the focus is on Begin; Tab reaches About.
  xdotool key --delay 200 Tab space
  about=$(find "^About Kelvarion$")
  shot "$about" "$out/windows-about-keyboard.png"
  xdotool key --delay 200 Tab Return   # OK
  sleep 0.5
  xdotool key --delay 200 shift+Tab Return   # Begin
  test=$(find "^Generating Fractals...$")
  sleep 1.5
  shot "$test" "$out/windows-test-keyboard.png"
  xdotool key --delay 200 Tab Return   # Stop!!
  sleep 0.5
  click "Kelvarion 1.0" 180 164        # Exit
  wait "$launcher"
' _ "$build" "$out"
