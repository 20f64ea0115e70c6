#!/usr/bin/env bash
# Runs every fuzz harness of a NOLARI_FUZZ build for a bounded time, each on
# its corpus (kept in the build folder, so a later run goes on from it) and on
# seeds taken from the tests, then prints per harness the executions and the
# coverage. A crash, a leak or a hang fails the run and leaves the reproducer
# in <build>/fuzz/artifacts.
set -euo pipefail
build=${1:?usage: scripts/fuzz.sh <build dir> [seconds per harness]}
seconds=${2:-60}
cd "$(dirname "$0")/.."

# The longest input each harness takes: a few request or command lines, a
# scene, a configuration, a short command line.
declare -A max_len=(
  [fuzz_sondra_requests]=4096 [fuzz_scene]=16384 [fuzz_config]=4096
  [fuzz_control]=4096 [fuzz_velkit]=1024 [fuzz_ambrel]=4096
)
harnesses=(fuzz_sondra_requests fuzz_scene fuzz_config fuzz_control fuzz_velkit fuzz_ambrel)

# Absolute paths: a harness may change its working directory.
mkdir -p "$build/fuzz/artifacts"
work=$(realpath "$build/fuzz")
dictionary=$(realpath native/fuzz/json.dict)
python3 scripts/fuzz_seeds.py native/tests "$work/seeds"

status=0
summary=()
for name in "${harnesses[@]}"; do
  binary="$build/native/fuzz/$name"
  if [[ ! -x "$binary" ]]; then
    echo "fuzz: $binary is missing; build the target 'fuzzers' of $build first" >&2
    exit 2
  fi
  mkdir -p "$work/corpus/$name"
  log="$work/$name.log"
  echo "fuzz: $name for ${seconds}s"
  # Standard output and error are the programs' own lines; libFuzzer keeps its
  # report. A run over ten seconds on one input counts as a hang.
  if "$binary" "$work/corpus/$name" "$work/seeds/$name" -max_total_time="$seconds" \
    -max_len="${max_len[$name]}" -dict="$dictionary" -timeout=10 -close_fd_mask=3 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/$name-" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    grep -E '^(==[0-9]+==ERROR|SUMMARY|fuzz:|artifact_prefix|Test unit written)' "$log" || tail -20 "$log"
  fi
  # The last status line holds the final coverage ("cov:" edges, "ft:" features).
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -oE 'ft: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  runs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  summary+=("$(printf '%-22s %-6s %12s %8s %8s' "$name" "$result" "${runs:--}" "${cov:--}" "${ft:--}")")
done

printf '%-22s %-6s %12s %8s %8s\n' harness result executions cov ft
printf '%s\n' "${summary[@]}"
if ((status)); then
  echo "fuzz: failed; the logs are $work/*.log, the reproducers in $work/artifacts" >&2
fi
exit "$status"
