#!/usr/bin/env bash
# check-nothing-written.sh PROGRAM: runs the program under strace on the current X display,
# uses all three windows and ends it with Exit, with HOME, TMPDIR and the working folder
# pointed at empty temporary folders. It runs it as a desktop without a session bus would
# (no bus address in the environment; where dbus-x11 is installed, libdbus would start a bus
# of its own), once with an XDG_RUNTIME_DIR and once without, and checks each time that it
# printed nothing, started no process, created or wrote no file, opened no socket but the
# display connection and looked for no settings of its own. Then it runs it with a session
# bus there (its socket in the runtime folder, or its address in the environment): the
# program must connect to that bus, which serves accessibility, and still to nothing else.
# Every wait is bounded: a program that does not end, or leaves a process behind, fails.
set -u
program=$(readlink -f "$1")
for tool in strace xdotool dbus-daemon timeout; do
  command -v $tool >/dev/null || { echo "needs $tool"; exit 77; }
done
[ -n "${DISPLAY:-}" ] || { echo "needs a display (run under tests/run-x11.sh)"; exit 77; }
command -v dbus-launch >/dev/null || echo "note: dbus-x11 is not installed, so nothing here would start a bus anyway"
scratch=$(mktemp -d)
bus_pid=
trap '[ -n "$bus_pid" ] && kill $bus_pid 2>/dev/null; rm -rf "$scratch"' EXIT
failed=0

# The newest visible window with this title, waited for up to 30 s. Without a window manager
# (this check runs without one) the program maps each window where it stays.
window_named() {
  local w
  for _ in $(seq 300); do
    w=$(timeout 5 xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}
# Waits up to 30 s until no visible window has this title. (xdotool gives up with an X error,
# and the status of no match, when a window vanishes while it looks: that is asked again.)
gone() {
  local out
  for _ in $(seq 300); do
    if ! out=$(timeout 5 xdotool search --onlyvisible --name "$1" 2>&1); then
      grep -q "X Error" <<<"$out" || return 0
    fi
    sleep 0.1
  done
  return 1
}
click() { timeout 5 xdotool mousemove --window "$1" "$2" "$3" click 1; }

# run_case NAME RUNTIME BUS_ADDRESS BUS_SOCKET: one run, with XDG_RUNTIME_DIR set to an empty
# folder of the run's own (RUNTIME "set") or unset ("unset"), DBUS_SESSION_BUS_ADDRESS set to
# BUS_ADDRESS or unset (""), and BUS_SOCKET the session bus the program must connect to, or "".
run_case() {
  local name=$1 runtime_mode=$2 address=$3 bus=$4
  local dir="$scratch/$name"
  local home="$dir/home" work="$dir/work" temp="$dir/tmp" runtime="$dir/runtime" log="$dir/trace"
  mkdir -p "$home" "$work" "$temp" "$runtime" && chmod 700 "$runtime"
  local fail=0
  bad() { echo "$name: $1"; [ -n "${2:-}" ] && sed 's/^/    /' <<<"$2"; fail=1; }
  local environment=(-u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR -u AT_SPI_BUS_ADDRESS
                     HOME="$home" TMPDIR="$temp")
  [ "$runtime_mode" = set ] && environment+=(XDG_RUNTIME_DIR="$runtime")
  [ -n "$address" ] && environment+=(DBUS_SESSION_BUS_ADDRESS="$address")

  (cd "$work" && exec env "${environment[@]}" strace -f -qq -o "$log" \
    -e trace=open,openat,creat,mkdir,mkdirat,rename,renameat,renameat2,link,linkat,symlink,symlinkat,truncate,unlink,unlinkat,socket,connect,execve,execveat,fork,vfork,clone,clone3 \
    "$program" >"$dir/out" 2>&1) &
  local tracer=$!
  local main about test
  if main=$(window_named '^Kelvarion 1.0$'); then
    click "$main" 180 132                      # About...
    # OK; centred, About lies over Begin until it has gone.
    about=$(window_named '^About Kelvarion$') && click "$about" 181 77 &&
      { gone '^About Kelvarion$' || bad "OK did not close the About window"; }
    click "$main" 180 100                      # Begin
    if test=$(window_named '^Generating Fractals...$'); then
      sleep 1  # on purpose: a second of a running test under the trace
      timeout 5 xdotool windowmove --sync "$test" 800 0
      click "$test" 208 436                    # Stop!!
      gone '^Generating Fractals...$' || bad "Stop did not close the test window"
    else
      bad "the test window did not appear"
    fi
    click "$main" 180 164                      # Exit
  else
    bad "the main window did not appear"
  fi
  # strace ends when the program and every process it started have ended.
  for _ in $(seq 300); do kill -0 $tracer 2>/dev/null || break; sleep 0.1; done
  if kill -0 $tracer 2>/dev/null; then
    bad "still running 30 s after Exit (the program, or a process it started):" \
      "$(ps -o pid=,args= -p "$(cut -d' ' -f1 "$log" | sort -u | paste -sd,)" 2>/dev/null)"
    # Every process in the trace was started from here: end them, then the tracer.
    for pid in $(cut -d' ' -f1 "$log" | sort -u); do kill -9 "$pid" 2>/dev/null; done
    for _ in $(seq 300); do kill -0 $tracer 2>/dev/null || break; sleep 0.1; done
    kill $tracer 2>/dev/null
  fi
  wait $tracer 2>/dev/null

  [ "$(grep -c "openat(" "$log")" -gt 50 ] || { bad "the trace is empty: strace saw nothing"; return 1; }
  echo "$name: traced $(grep -c . "$log") calls, $(grep -c "connect(" "$log") connects"
  [ -s "$dir/out" ] && bad "printed something:" "$(head -5 "$dir/out")"
  # One process, which runs the program: no other program, no forked child.
  local started
  started=$( (grep -E 'execve(at)?\(' "$log" | grep -v ' = -1 ' | sed 1d
              grep -E '(v?fork|clone3?)\(' "$log" | grep -v 'CLONE_THREAD' | grep -v ' = -1 '))
  [ -z "$started" ] || bad "started a process:" "$started"
  # Opens that create or write, and every call that makes, moves, links or removes a file.
  local writes paths wrote
  writes=$(grep -E 'O_WRONLY|O_RDWR|O_CREAT|creat\(|mkdir|rename|link\(|linkat|symlink|truncate|unlink' "$log" | grep -v ' = -1 ')
  paths=$(grep -oE '"[^"]*"' <<<"$writes" | tr -d '"' | sort -u)
  wrote=$(grep -vE '^(/dev/|/proc/)' <<<"$paths" | grep .)
  [ -z "$wrote" ] || bad "created or wrote files:" "$wrote"
  local left
  left=$(command find "$home" "$work" "$temp" "$runtime" -mindepth 1 ! -path "$bus")
  [ -z "$left" ] || bad "left files behind:" "$left"
  local sockets peers
  sockets=$(grep -E 'socket\(' "$log" | grep -v ' = -1 ' | grep -v 'AF_UNIX')
  [ -z "$sockets" ] || bad "opened a socket other than a local one:" "$sockets"
  peers=$(grep -E 'connect\(' "$log" | grep -v ' = -1 ' | grep -oE 'sun_path=[^}]*' |
          sed -E 's/^sun_path=@?"//; s/"$//' | grep -v '^/tmp/.X11-unix/' | sort -u)
  if [ -n "$bus" ]; then
    grep -qxF "$bus" <<<"$peers" || bad "did not connect to the session bus at $bus" "$peers"
    peers=$(grep -vxF "$bus" <<<"$peers")
  fi
  [ -z "$peers" ] || bad "connected to something other than the display:" "$peers"
  # Settings of its own would be named after it: none looked for, found or not.
  local own
  own=$(grep -iE '"[^"]*kelvarion[^"]*"' "$log" | grep -vE 'execve(at)?\(' | grep -F "\"$home")
  [ -z "$own" ] || bad "looked for settings of its own:" "$own"
  [ $fail = 0 ] && echo "$name: nothing printed, started, written or sent"
  return $fail
}

run_case runtime-folder set "" "" || failed=1
run_case no-runtime-folder unset "" "" || failed=1

# A session bus of our own, as a desktop session would have it: its socket in the runtime
# folder, then named by the environment.
start_bus() {
  local address=$1
  env -u XDG_RUNTIME_DIR HOME="$scratch" dbus-daemon --session --nofork --address="$address" \
    >/dev/null 2>&1 &
  bus_pid=$!
  local socket=${address#unix:path=}
  for _ in $(seq 300); do [ -S "$socket" ] && return 0; sleep 0.1; done
  echo "the test's own session bus did not start"
  return 1
}
stop_bus() { kill $bus_pid 2>/dev/null; wait $bus_pid 2>/dev/null; bus_pid=; }

mkdir -m 700 -p "$scratch/bus-in-runtime-folder/runtime"
if start_bus "unix:path=$scratch/bus-in-runtime-folder/runtime/bus"; then
  run_case bus-in-runtime-folder set "" "$scratch/bus-in-runtime-folder/runtime/bus" || failed=1
  stop_bus
else
  failed=1
fi
if start_bus "unix:path=$scratch/bus-socket"; then
  run_case bus-address set "unix:path=$scratch/bus-socket" "$scratch/bus-socket" || failed=1
  stop_bus
else
  failed=1
fi
exit $failed
