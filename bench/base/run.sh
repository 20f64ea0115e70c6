#!/usr/bin/env bash
# The depth-limited parse of the programs' input beside the library's plain
# parse, on a command list of 270,000 items.
set -euo pipefail
build=${1:?usage: bench/base/run.sh <build dir>}
bench=$(cd "$build" && pwd)/native/tests/core/json_input_bench
[[ -x "$bench" ]] || { echo "bench: $bench is not built" >&2; exit 1; }
exec "$bench"
