#!/usr/bin/env bash
# The action blob's frames built by its view and painted with cairo and pango,
# beside clearing the surface alone.
set -euo pipefail
build=${1:?usage: bench/drawing/run.sh <build dir>}
bench=$(cd "$build" && pwd)/native/tests/ambrel/drawing_bench
[[ -x "$bench" ]] || { echo "bench: $bench is not built" >&2; exit 1; }
exec "$bench" "${@:2}"
