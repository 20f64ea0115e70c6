#!/usr/bin/env bash
# Velkit and Tarnet on the real desktop: a headless X server, window manager,
# D-Bus session and the GTK compose window, then the applications people write
# in, all started and stopped here.
set -euo pipefail
build=${1:?usage: bench/desktop/run.sh <build dir>}
build=$(cd "$build" && pwd)
for program in velkit tarnet; do
  [[ -x "$build/native/source/$program/$program" ]] || { echo "bench: $program is not built in $build" >&2; exit 1; }
done
for tool in Xvfb openbox dbus-daemon xdotool; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done
/usr/bin/python3 "$(dirname "$0")/bench.py" "$build"
# The browsers, editors and office suite people write in, where installed.
if command -v chromium >/dev/null && command -v firefox-esr >/dev/null && command -v soffice >/dev/null; then
  /usr/bin/python3 "$(dirname "$0")/applications.py" "$build"
else
  echo "bench: the applications benchmark needs chromium, firefox-esr and soffice (scripts/deps.sh installs them)"
fi
