#!/usr/bin/env bash
# Velkit on large scenes: request counts and wall time per command.
set -euo pipefail
build=$(cd "${1:?usage: bench/velkit/run.sh <build dir>}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
velkit="$build/native/source/velkit/velkit"
python=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for kind in app browser browser-sidebar; do
  "$python" "$here/make_scene.py" "$kind" "$work/$kind.json"
  "$python" "$here/measure.py" "$velkit" "$work/$kind.json" "${VELKIT_BENCH_RUNS:-5}"
done
