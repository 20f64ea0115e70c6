#!/usr/bin/env bash
# Runs every benchmark under bench/ against the programs of one build directory.
set -euo pipefail
build=${1:?usage: bench/run.sh <build dir>}
here=$(cd "$(dirname "$0")" && pwd)
for bench in "$here"/*/run.sh; do
  echo "== $(basename "$(dirname "$bench")")"
  bash "$bench" "$build"
done
