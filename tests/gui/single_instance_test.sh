#!/bin/sh
# Starts the program twice on a private Xvfb display: the second copy must end
# at once with exit code 0 and map no window, the first must keep its window.
# Usage: single_instance_test.sh <path to kelvora>
set -u
program=$1

command -v Xvfb >/dev/null 2>&1 || { echo "Xvfb not installed"; exit 77; }
for tool in xdotool; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool missing"; exit 1; }
done

work=$(mktemp -d)
xvfb_pid=
first_pid=
cleanup() {
  [ -n "$first_pid" ] && kill "$first_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# -displayfd picks a free display and writes its number once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
i=0
while [ ! -s "$work/display" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
DISPLAY=:$(head -n1 "$work/display")
export DISPLAY
unset QT_QPA_PLATFORM
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"

visible() { xdotool search --onlyvisible --name '^Kelvora$' 2>/dev/null | sort; }
# Windows shown now that were not before. A search that meets a window being
# destroyed (the second copy's own helpers) can come back short, so a window
# missing from one search is no change; a new one always is.
new_windows() { visible | comm -13 "$work/before" -; }

"$program" >"$work/first.log" 2>&1 &
first_pid=$!
i=0
while [ -z "$(visible)" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
before=$(visible)
[ -n "$before" ] || { echo "first copy shows no window"; cat "$work/first.log"; exit 1; }
echo "$before" >"$work/before"

"$program" >"$work/second.log" 2>&1 &
second_pid=$!
# Watch for up to 2 s of wall time: the second copy must end, and no new
# window may appear meanwhile.
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
deadline=$(( $(now_ms) + 2000 ))
while kill -0 "$second_pid" 2>/dev/null && [ "$(now_ms)" -lt "$deadline" ]; do
  if [ -n "$(new_windows)" ]; then
    echo "second copy mapped a window"
    exit 1
  fi
  sleep 0.05
done
if kill -0 "$second_pid" 2>/dev/null; then
  kill "$second_pid"
  echo "second copy still running after 2 s"
  exit 1
fi
wait "$second_pid"
status=$?
[ "$status" -eq 0 ] || { echo "second copy exited with $status"; cat "$work/second.log"; exit 1; }

kill -0 "$first_pid" 2>/dev/null || { echo "first copy ended"; exit 1; }
[ "$(visible)" = "$before" ] || { sleep 0.2; [ "$(visible)" = "$before" ]; } ||
  { echo "first copy's window changed"; exit 1; }
echo "second copy ended with 0 while the first kept its window"
exit 0
