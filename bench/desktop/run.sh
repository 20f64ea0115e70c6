#!/usr/bin/env bash
# Velkit and Tarnet on the real desktop: a headless X server, window manager,
# D-Bus session and the GTK compose window, all started and stopped here.
set -euo pipefail
build=${1:?usage: bench/desktop/run.sh <build dir>}
build=$(cd "$build" && pwd)
for program in velkit tarnet; do
  [[ -x "$build/native/source/$program/$program" ]] || { echo "bench: $program is not built in $build" >&2; exit 1; }
done
for tool in Xvfb openbox dbus-daemon xdotool; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done
exec /usr/bin/python3 "$(dirname "$0")/bench.py" "$build"
