#!/usr/bin/env bash
# One overlay frame built and painted with cairo and pango, beside clearing the
# surface alone.
set -euo pipefail
build=${1:?usage: bench/drawing/run.sh <build dir>}
bench=$(cd "$build" && pwd)/native/tests/platform/drawing_bench
[[ -x "$bench" ]] || { echo "bench: $bench is not built" >&2; exit 1; }
exec "$bench" "${@:2}"
