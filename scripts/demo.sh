#!/usr/bin/env bash
# Sondra's main job, end to end: a sentence is spoken into a WAV file, the
# worker is started, and the lines exchanged with it are shown (→ to it, ← from it).
set -euo pipefail

build=${1:?usage: scripts/demo.sh <build dir>}
sondra=$(cd "$build" && pwd)/native/source/sondra/sondra
[[ -x "$sondra" ]] || { echo "demo: $sondra is not built" >&2; exit 1; }
desktop_demo=$(cd "$(dirname "$0")" && pwd)/demo_desktop.sh
build=$(cd "$build" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sentence="Please send the quarterly report to Margaret before Friday."
flite -voice kal16 -t "$sentence" -o "$work/dictation.wav"
echo "spoken into $work/dictation.wav: \"$sentence\""
echo

cd "$work"
coproc SONDRA { exec "$sondra" 2>/dev/null; }
read -r -t 10 line <&"${SONDRA[0]}"
echo "← $line"

send() {
  echo "→ $1"
  printf '%s\n' "$1" >&"${SONDRA[1]}"
  read -r -t 60 reply <&"${SONDRA[0]}"
  echo "← $reply"
}

send '{"id":"1","op":"ping"}'
send '{"id":"2","op":"check-permission"}'
send '{"id":"3","op":"check-locale","locale":"en-US"}'
send "{\"id\":\"4\",\"op\":\"transcribe\",\"audio_path\":\"$work/dictation.wav\",\"locale\":\"en-US\",\"contextual_strings\":[\"Margaret\"]}"
transcription=$reply

exec {SONDRA[1]}>&-
status=0
wait "$SONDRA_PID" || status=$?
echo
echo "sondra exited with status $status at the end of its input"

# The transcribed text, written into a live application on a headless desktop.
text=$(printf '%s' "$transcription" | /usr/bin/python3 -c 'import json, sys; r = json.load(sys.stdin); print(r.get("text") or r.get("result", {}).get("text", ""))')
echo
bash "$desktop_demo" "$build" "${text:-$sentence}"
