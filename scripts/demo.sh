#!/usr/bin/env bash
# The road of one dictation on a headless desktop: space is held over the compose
# window while a synthesised sentence plays into a virtual microphone, the
# stand-in parent records it, Sondra transcribes it with the window's words and
# Velkit writes it into the message body; the stars come under it. Shows the
# lines exchanged with each program, the screenshots' contact sheet and the times.
set -euo pipefail

build=$(cd "${1:?usage: scripts/demo.sh <build dir>}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
out=$build/demo
# The README's contact sheet is drawn again only when asked (make demo-sheet):
# every run's screenshots differ a little, and a demo should not change the checkout.
sheet=${DEMO_SHEET:-$out/dictation-road.png}
sentence="i will call you back in ten minutes"

rm -rf "$out"
echo "spoken into the virtual microphone while space is held: \"$sentence\""
status=0
DICTATION_SENTENCE=$sentence bash "$here/dictation_road.sh" "$build" "$out" --shots || status=$?
if ((status == 77)); then exit 0; fi

echo
echo "lines exchanged (→ to a program, ← from it, = the parent's own reports; seconds since start):"
grep -v '"action_blob_set_audio_level"' "$out/parent.log"
levels=$(grep -c '"action_blob_set_audio_level"' "$out/parent.log" || true)
echo "(and $levels action_blob_set_audio_level lines to ambrel while recording, e.g.:)"
grep '"action_blob_set_audio_level"' "$out/parent.log" | sed -n '20,22p'
echo
echo "the message body now holds: \"$(cat "$out/field.txt")\""
((status == 0)) || { echo "demo: the dictation did not reach the field (programs' log: $out/programs.log)"; exit 1; }

/usr/bin/python3 - "$out/parent.log" <<'PY'
import json, re, sys
lines = open(sys.argv[1]).read().splitlines()
def at(pattern):
    for line in lines:
        if re.search(pattern, line):
            return float(line.split()[0]), line
    return None, None
up, _ = at(r'← ambrel .*"dictation_ptt_up"')
_, written = at(r'"event":"written"')
report = json.loads(written.split("= ", 1)[1])
print(f"key release (dictation_ptt_up from ambrel) → text in the field: {report['release_to_text_ms']:.0f} ms")
print(f"sondra's own transcription time for the same audio:           {report['sondra_duration_ms']:.0f} ms")
print(f"everything else:                                               {report['release_to_text_ms'] - report['sondra_duration_ms']:.0f} ms")
PY

mkdir -p "$(dirname "$sheet")"
tiles=()
for shot in 1-recording 2-transcribing 3-text 4-stars; do
  # The window, then enlarged below it the strip under the message body, where
  # the stars come, and the blob at the bottom of the screen.
  convert "$out/$shot.png" \( -clone 0 -crop 680x540+300+250 +repage \) \
    \( -clone 0 -crop 340x40+320+698 +repage -scale 200% \) \
    \( -clone 0 -crop 240x70+520+954 +repage -scale 283% \) -delete 0 \
    -background '#808080' -gravity center -append -resize 400x "$out/$shot-tile.png"
  tiles+=(-label "${shot#*-}" "$out/$shot-tile.png")
done
montage "${tiles[@]}" -tile 4x1 -geometry +4+4 "$sheet"
echo
echo "screenshots: $out/{1-recording,2-transcribing,3-text,4-stars}.png"
echo "contact sheet: $sheet"
