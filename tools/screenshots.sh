#!/usr/bin/env bash
# screenshots.sh BUILD_DIR OUT_DIR [--wm]: runs the real program under Xvfb (with openbox when
# --wm is given), opens its three windows as a user would, and saves each one as a PNG:
# main.png, test.png, about.png; and, with the suite's libm_fault.so in the build, runs it again
# with one arctangent of the second pass made wrong and saves the "Computation Error" window
# once the third pass has decided: error.png. Needs xdotool and ImageMagick's import.
set -eu
build=$1 out=$2 wm=${3:-}
mkdir -p "$out"
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/../tests/run-x11.sh" $wm bash -c '
  set -eu
  build=$1 out=$2
  XDG_RUNTIME_DIR=$(mktemp -d) "$build/Kelvarion1" & pid=$!
  find() { for _ in $(seq 100); do w=$(xdotool search --all --onlyvisible --pid $pid --name "$1" 2>/dev/null | tail -1); [ -n "$w" ] && { sleep 0.3; echo $w; return; }; sleep 0.05; done; echo "no window $1" >&2; exit 1; }
  shot() {  # the window with its frame when a window manager draws one
    local w=$1 f=$2 parent
    parent=$(xwininfo -children -id $w | sed -n "s/^  Parent window id: \(0x[0-9a-f]*\).*/\1/p")
    if [ -n "$parent" ] && [ "$(xwininfo -id $parent | grep -c "Root window")" = 0 ] && xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window; then w=$parent; fi
    import -window $w "$f"
  }
  main=$(find "^Kelvarion 1.0$")
  shot $main "$out/main.png"
  xdotool mousemove --window $main 180 132 click 1
  about=$(find "^About Kelvarion$")
  shot $about "$out/about.png"
  xdotool mousemove --window $about 181 77 click 1
  xdotool mousemove --window $main 180 100 click 1
  test=$(find "^Generating Fractals...$")
  sleep 1.2
  shot $test "$out/test.png"
  xdotool mousemove --window $test 208 436 click 1
  sleep 0.2
  xdotool mousemove --window $main 180 164 click 1
  wait $pid
  lib=$build/tests/libm_fault.so
  [ -f "$lib" ] || exit 0
  # A low bit of an arctangent in image 238 (the second pass), point 5,000: the third pass
  # decides which drawing was wrong.
  XDG_RUNTIME_DIR=$(mktemp -d) LD_PRELOAD=$lib KELVARION_LIBM_FAULT="a $((79 * 414 * 334 + 5000)) 0" \
    "$build/Kelvarion1" & pid=$!
  main=$(find "^Kelvarion 1.0$")
  xdotool mousemove --window $main 180 100 click 1
  error=$(find "^Computation Error$")
  sleep 4  # the third pass
  shot $error "$out/error.png"
  kill $pid
' _ "$build" "$out"
