#!/bin/sh
# Runs a command under an X server of its own (Xvfb), as the desktop program runs for a user:
# real fonts, window placement, focus, pointer and tooltips (the offscreen platform has none of
# them). The server takes a free display itself and says which; it ends with the command.
set -eu
if ! command -v Xvfb >/dev/null 2>&1; then
  echo "Xvfb is missing: apt-get install xvfb (the README's test command installs it)" >&2
  exit 1
fi
folder=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -rf "$folder"' EXIT
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$folder/display" \
  2>"$folder/server.log" &
server=$!
tries=0
while [ ! -s "$folder/display" ]; do
  if ! kill -0 "$server" 2>/dev/null || [ "$tries" -ge 200 ]; then
    echo "Xvfb did not start:" >&2
    cat "$folder/server.log" >&2
    exit 1
  fi
  tries=$((tries + 1))
  sleep 0.05
done
DISPLAY=":$(head -n 1 "$folder/display")" QT_QPA_PLATFORM=xcb "$@"
