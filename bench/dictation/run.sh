#!/usr/bin/env bash
# The road of one dictation, timed: ten runs of scripts/dictation_road.sh, with
# the time from the key's release (Ambrel's dictation_ptt_up) to the text in the
# field beside Sondra's own transcription time for the same audio; then the CPU
# and memory of the programs at rest on the desktop.
#   bench/dictation/run.sh <build dir> [runs]
set -euo pipefail
build=$(cd "${1:?usage: bench/dictation/run.sh <build dir> [runs]}" && pwd)
runs=${2:-10}
here=$(cd "$(dirname "$0")" && pwd)
road=$here/../../scripts/dictation_road.sh
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

for ((run = 1; run <= runs; run++)); do
  status=0
  # The first run also measures the programs at rest, for ten seconds.
  if ((run == 1)); then
    DICTATION_ROAD_AT_REST="$here/at_rest.sh" bash "$road" "$build" "$results/$run" \
      >"$results/rest.txt" 2>&1 || status=$?
  else
    bash "$road" "$build" "$results/$run" >/dev/null 2>&1 || status=$?
  fi
  if ((status == 77)); then echo "skipped: the headless desktop or the virtual microphone is missing"; exit 0; fi
  ((status == 0)) || echo "run $run failed; its lines: $results/$run/parent.log"
done

/usr/bin/python3 - "$results" "$runs" <<'PY'
import json, os, statistics, sys
folder, runs = sys.argv[1], int(sys.argv[2])
rows = []
for run in range(1, runs + 1):
    path = os.path.join(folder, str(run), "parent.log")
    for line in open(path) if os.path.exists(path) else []:
        if '"event":"written"' in line:
            rows.append(json.loads(line[line.index("{"):]))
if not rows:
    sys.exit("no run wrote its text")
def p50(key):
    return statistics.median(row[key] for row in rows)
print(f"{len(rows)} of {runs} runs wrote the text ({sum(r['text'] == rows[0]['text'] for r in rows)} as {rows[0]['text']!r})")
print(f"p50 key release → text in the field: {p50('release_to_text_ms'):7.0f} ms")
print(f"p50 sondra's transcription time:     {p50('sondra_duration_ms'):7.0f} ms")
overhead = statistics.median(r["release_to_text_ms"] - r["sondra_duration_ms"] for r in rows)
print(f"p50 everything else:                 {overhead:7.0f} ms  (target < 150 ms)")
PY
grep -v SpiRegistry "$results/rest.txt" || true

# Velkit runs only when asked: its cost is one command's.
velkit=$build/native/source/velkit/velkit
/usr/bin/time -f "velkit check-permissions (not running at rest): %e s, peak RSS %M kB" \
  "$velkit" check-permissions >/dev/null 2>"$results/velkit.txt" || true
tail -n1 "$results/velkit.txt"
