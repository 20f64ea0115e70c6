#!/usr/bin/env bash
# Sondra's speed and accuracy on a corpus spoken by flite, beside the plain engine,
# and on recordings of real speech, then the whisper engine's latency beside the
# default one, and what contextual strings and a cold start cost. Options after
# the build directory go to bench.py and run only the part of it they name (e.g.
# --real-only --part tune).
set -euo pipefail
build=${1:?usage: bench/sondra/run.sh <build dir> [bench.py options]}
shift
sondra=$(cd "$build" && pwd)/native/source/sondra/sondra
[[ -x "$sondra" ]] || { echo "bench: $sondra is not built" >&2; exit 1; }
/usr/bin/python3 "$(dirname "$0")/bench.py" "$sondra" "$@"
if (($# == 0)); then
  /usr/bin/python3 "$(dirname "$0")/whisper_bench.py" "$sondra"
  /usr/bin/python3 "$(dirname "$0")/context_bench.py" "$sondra"
fi
