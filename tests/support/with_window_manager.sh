#!/bin/sh
# Runs a command on the current X display with a window manager (openbox)
# managing its windows, as on a desktop: focus, decorations and dialogs
# placed by the manager rather than by the bare X server.
openbox --sm-disable >/dev/null 2>&1 &
manager=$!
# The manager announces itself on the root window once it has the display.
tries=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
  tries=$((tries + 1))
  if [ "$tries" -gt 100 ]; then
    echo "with_window_manager: openbox did not start" >&2
    kill "$manager" 2>/dev/null
    exit 1
  fi
  sleep 0.1
done
"$@"
status=$?
kill "$manager" 2>/dev/null
wait "$manager" 2>/dev/null
exit "$status"
