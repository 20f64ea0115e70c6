#!/usr/bin/env bash
# One dictation on a headless desktop, driven by the stand-in parent: an X server
# (started without key auto-repeat, see below), a window manager, a D-Bus session
# and the GTK compose window; a private PulseAudio server whose default source is
# a virtual microphone; a sentence synthesised and played into it while space is
# held down with xdotool.
#
#   scripts/dictation_road.sh <build dir> <output dir> [--shots]
#
# Leaves in the output dir: parent.log (the lines exchanged), programs.log (their
# standard error), field.txt (the text the compose window's body holds at the end)
# and, with --shots, 1-recording.png … 4-stars.png. Exits 77 when a program it needs
# is missing, 1 when the road failed somewhere.
set -euo pipefail

build=$(cd "${1:?usage: dictation_road.sh <build dir> <output dir> [--shots]}" && pwd)
out=${2:?usage: dictation_road.sh <build dir> <output dir> [--shots]}
shots=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
composer=$here/../native/tests/desktop/apps/compose.py
parent=$build/native/tools/dictation_parent
sentence=${DICTATION_SENTENCE:-"i will call you back in ten minutes"}

needed=(Xvfb openbox dbus-daemon xdotool pulseaudio pacat pactl paplay flite)
[[ -n "$shots" ]] && needed+=(import xcompmgr)
for tool in "${needed[@]}"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing (scripts/deps.sh installs it)"; exit 77; }
done
[[ -x "$parent" ]] || { echo "skipped: $parent is not built (it needs libasound2-dev)"; exit 77; }
/usr/bin/python3 -c 'import gi' 2>/dev/null || { echo "skipped: python3-gi is missing"; exit 77; }

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
pids=()
stop() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap stop EXIT

# Polls for a pattern in a file, for up to $3 tenths of a second.
wait_for() {
  for _ in $(seq "$3"); do grep -q -- "$1" "$2" 2>/dev/null && return 0; sleep 0.1; done
  echo "road: timed out waiting for $1 in $(basename "$2")" >&2
  return 1
}
shot() { [[ -z "$shots" ]] || import -window root "$out/$1.png"; }

# xdotool types through the XTEST device, whose key repeats the core keyboard's
# per-key settings do not govern under Xvfb: a held space would repeat into the
# field. A desktop's keyboard honours Ambrel's setting; here the server has none.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -r 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.05; done
export DISPLAY=:$(head -n1 "$work/display")
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime HOME=$work
unset AT_SPI_BUS_ADDRESS NOLARI_PLATFORM
dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$work/bus" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s "$work/bus" ]] && break; sleep 0.05; done
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
if [[ -n "$shots" ]]; then
  # Translucent windows are blended only under a compositing manager.
  xcompmgr >/dev/null 2>&1 &
  pids+=($!)
fi
/usr/bin/python3 "$composer" body >"$work/composer" 2>/dev/null &
pids+=($!)
wait_for '"field": "focus"' "$work/composer" 200

# The virtual microphone: a null sink at the recording's format whose monitor is
# the default source. A silent stream keeps the sink rendering in small blocks,
# so its monitor delivers like a microphone, and one suspend drops the long
# block it started with.
cat >"$work/virtmic.pa" <<'PA'
.fail
load-module module-native-protocol-unix
load-module module-null-sink sink_name=virtmic rate=16000 channels=1 format=s16le
set-default-sink virtmic
set-default-source virtmic.monitor
PA
export PULSE_RUNTIME_PATH=$work/runtime/pulse PULSE_STATE_PATH=$work/state PULSE_COOKIE=$work/cookie
export PULSE_SERVER=unix:$work/runtime/pulse/native
pulseaudio --daemonize=no --exit-idle-time=-1 -n -F "$work/virtmic.pa" --use-pid-file=no \
  --realtime=no --high-priority=no --log-target=file:"$work/pa.log" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 400); do [[ -S "$work/runtime/pulse/native" ]] && break; sleep 0.01; done
pacat --playback --raw --format=s16le --rate=16000 --channels=1 --latency-msec=100 \
  --client-name=keeper /dev/zero &
pids+=($!)
for _ in $(seq 400); do pactl list short sinks 2>/dev/null | grep -q RUNNING && break; sleep 0.01; done
pactl suspend-sink virtmic 1
pactl suspend-sink virtmic 0

flite -voice kal16 -t "$sentence" -o "$work/sentence.wav"

"$parent" "$build/native/source" --work "$work" >"$out/parent.log" 2>"$out/programs.log" &
parent_pid=$!
pids+=($parent_pid)
wait_for 'dictation_space_hold_updated' "$out/parent.log" 100
wait_for '← tarnet' "$out/parent.log" 100
# A benchmark's hook, given the parent's process id, to measure the programs at rest.
if [[ -n "${DICTATION_ROAD_AT_REST:-}" ]]; then "$DICTATION_ROAD_AT_REST" "$parent_pid"; fi

xdotool keydown space
wait_for '"event":"recording"' "$out/parent.log" 100
paplay "$work/sentence.wav" &
player=$!
sleep 1
shot 1-recording
wait "$player"
xdotool keyup space
wait_for '"state":"transcribing"' "$out/parent.log" 50
# The blob takes a moment to turn to its new state.
sleep 0.4
shot 2-transcribing
wait_for '"event":"written"\|"event":"write_failed"\|"state":"error"' "$out/parent.log" 600
shot 3-text
wait_for '"type":"write_success"' "$out/parent.log" 20
# The stars come 0.2 s after write_success and fade in.
sleep 1.5
shot 4-stars

kill "$parent_pid"
wait "$parent_pid" || true
/usr/bin/python3 -c '
import json, sys
text = ""
for line in open(sys.argv[1]):
    report = json.loads(line)
    if report.get("field") == "body" and "text" in report:
        text = report["text"]
print(text)' "$work/composer" >"$out/field.txt"
grep -q '"event":"written"' "$out/parent.log"
