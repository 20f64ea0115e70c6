#!/usr/bin/env bash
# Sondra's speed and accuracy on a corpus spoken by flite, beside the plain engine.
set -euo pipefail
build=${1:?usage: bench/sondra/run.sh <build dir>}
sondra=$(cd "$build" && pwd)/native/source/sondra/sondra
[[ -x "$sondra" ]] || { echo "bench: $sondra is not built" >&2; exit 1; }
exec /usr/bin/python3 "$(dirname "$0")/bench.py" "$sondra"
