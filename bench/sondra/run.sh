#!/usr/bin/env bash
# Sondra's speed and accuracy on a corpus spoken by flite, beside the plain engine,
# then the whisper engine's latency beside the default one.
set -euo pipefail
build=${1:?usage: bench/sondra/run.sh <build dir>}
sondra=$(cd "$build" && pwd)/native/source/sondra/sondra
[[ -x "$sondra" ]] || { echo "bench: $sondra is not built" >&2; exit 1; }
/usr/bin/python3 "$(dirname "$0")/bench.py" "$sondra"
/usr/bin/python3 "$(dirname "$0")/whisper_bench.py" "$sondra"
