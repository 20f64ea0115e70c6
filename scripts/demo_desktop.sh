#!/usr/bin/env bash
# The dictated text reaches a real application: a headless desktop (X server,
# window manager, D-Bus session) with the GTK compose window is started, Velkit
# writes the text into the focused message body through the accessibility bus
# and reads it back, and a screenshot of the screen is saved.
set -euo pipefail

build=${1:?usage: scripts/demo_desktop.sh <build dir> <text>}
text=${2:?usage: scripts/demo_desktop.sh <build dir> <text>}
build=$(cd "$build" && pwd)
velkit=$build/native/source/velkit/velkit
here=$(cd "$(dirname "$0")" && pwd)
composer=$here/../native/tests/desktop/apps/compose.py
shot=$build/demo-desktop.png

for tool in Xvfb openbox dbus-daemon import; do
  command -v "$tool" >/dev/null || { echo "desktop demo skipped: $tool is missing (scripts/deps.sh installs it)"; exit 0; }
done
[[ -x "$velkit" ]] || { echo "desktop demo skipped: $velkit is not built"; exit 0; }

work=$(mktemp -d)
pids=()
stop() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap stop EXIT

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.05; done
export DISPLAY=:$(head -n1 "$work/display")
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime
unset AT_SPI_BUS_ADDRESS NOLARI_PLATFORM
dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$work/bus" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s "$work/bus" ]] && break; sleep 0.05; done
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
/usr/bin/python3 "$composer" body >"$work/composer" 2>/dev/null &
pids+=($!)
for _ in $(seq 200); do grep -q '"field": "focus"' "$work/composer" 2>/dev/null && break; sleep 0.05; done

echo "desktop $DISPLAY with the compose window; the message body has focus"
echo "→ velkit write-text \"$text\""
echo "← $("$velkit" write-text "$text" 2>/dev/null)"
echo "→ velkit get-focused"
echo "← $("$velkit" get-focused 2>/dev/null)"
import -window root "$shot"
echo "screenshot of the window with the written text: $shot"
