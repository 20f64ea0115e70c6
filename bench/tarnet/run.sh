#!/usr/bin/env bash
# Tarnet's latency and rate of focus reports on the simulated desktop, beside
# the control channel's own round trip.
set -euo pipefail
build=${1:?usage: bench/tarnet/run.sh <build dir>}
tarnet=$(cd "$build" && pwd)/native/source/tarnet/tarnet
[[ -x "$tarnet" ]] || { echo "bench: $tarnet is not built" >&2; exit 1; }
exec /usr/bin/python3 "$(dirname "$0")/bench.py" "$tarnet"
