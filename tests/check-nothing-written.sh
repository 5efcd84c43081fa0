#!/usr/bin/env bash
# check-nothing-written.sh PROGRAM: runs the program under strace on the current X display
# with HOME and the working folder pointed at empty temporary folders, uses all three windows,
# and checks that it created or wrote no file outside the system's temporary and runtime
# folders, opened no socket but the display connection, and read no settings of its own.
set -u
program=$(readlink -f "$1")
command -v strace >/dev/null && command -v xdotool >/dev/null || { echo "needs strace and xdotool"; exit 77; }
home=$(mktemp -d) work=$(mktemp -d) runtime=$(mktemp -d) log=$(mktemp)
trap 'rm -rf "$home" "$work" "$runtime" "$log"' EXIT
cd "$work"
HOME=$home XDG_RUNTIME_DIR=$runtime strace -f -qq -o "$log" \
  -e trace=open,openat,creat,mkdir,mkdirat,rename,renameat,renameat2,link,linkat,symlink,symlinkat,truncate,socket,connect \
  "$program" &
tracer=$!
find() { for _ in $(seq 300); do w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1); [ -n "$w" ] && { sleep 0.2; echo "$w"; return; }; sleep 0.1; done; }
main=$(find '^Kelvarion 1.0$')
[ -n "$main" ] || { echo "the main window did not appear"; kill $tracer; exit 1; }
xdotool mousemove --window "$main" 180 132 click 1            # About...
about=$(find '^About Kelvarion$')
xdotool mousemove --window "$about" 181 77 click 1            # OK
xdotool mousemove --window "$main" 180 100 click 1            # Begin
test=$(find '^Generating Fractals...$')
sleep 1
xdotool windowmove "$test" 800 0
sleep 0.3
xdotool mousemove --window "$test" 208 436 click 1            # Stop!!
sleep 0.3
xdotool mousemove --window "$main" 180 164 click 1            # Exit
wait $tracer
fail=0
[ "$(grep -c "openat(" "$log")" -gt 50 ] || { echo "the trace is empty: strace saw nothing"; exit 1; }
echo "traced $(grep -c . "$log") calls, $(grep -c "connect(" "$log") connects"
# Opens that create or write, and every call that makes, moves or links a file.
writes=$(grep -E 'O_WRONLY|O_RDWR|O_CREAT|creat\(|mkdir|rename|link\(|linkat|symlink|truncate' "$log" | grep -v ' = -1 ')
paths=$(grep -oE '"[^"]*"' <<<"$writes" | tr -d '"' | sort -u)
# HOME and the working folder lie in /tmp here, so they are checked on their own.
bad=$( (grep -vE "^(/tmp/|/dev/|/proc/|/run/user/)" <<<"$paths"; grep -E "^($home|$work)" <<<"$paths") | sort -u)
[ -z "$bad" ] || { echo "wrote outside the temporary folders:"; echo "$bad"; fail=1; }
left=$(find "$home" "$work" -mindepth 1)
[ -z "$left" ] || { echo "left files in HOME or the working folder:"; echo "$left"; fail=1; }
sockets=$(grep -E 'socket\(' "$log" | grep -v ' = -1 ' | grep -v 'AF_UNIX')
[ -z "$sockets" ] || { echo "opened a socket other than a local one:"; echo "$sockets"; fail=1; }
peers=$(grep -E 'connect\(' "$log" | grep -v ' = -1 ' | grep -oE 'sun_path=[^}]*' | grep -v 'X11-unix' | sort -u)
[ -z "$peers" ] || { echo "connected to something other than the display:"; echo "$peers"; fail=1; }
own=$(grep -iE 'kelvarion' "$log" | grep -E '"'"$home" | grep -v ' = -1 ')
[ -z "$own" ] || { echo "read settings of its own:"; echo "$own"; fail=1; }
[ $fail = 0 ] && echo "nothing written, nothing sent, no settings read"
exit $fail
