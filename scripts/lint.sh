#!/usr/bin/env bash
# Checks the formatting of the project's own C++ sources and runs clang-tidy
# over them with the compile commands of one build directory. Both run before
# the exit, so that one report shows every finding.
set -euo pipefail
build=${1:?usage: scripts/lint.sh <build dir> [jobs]}
jobs=${2:-$(nproc)}
cd "$(dirname "$0")/.."

if [[ ! -f "$build/compile_commands.json" ]]; then
  echo "lint: $build/compile_commands.json is missing; configure and build $build first" >&2
  exit 2
fi

mapfile -t files < <(find native/source native/tests native/tools native/fuzz -name '*.cpp' -o -name '*.h' | sort)

status=0
echo "lint: clang-format on ${#files[@]} files"
if ! clang-format --dry-run -Werror "${files[@]}" 2>"$build/clang-format.log"; then
  status=1
  echo "lint: not formatted (places to change per file; fix with clang-format -i):"
  grep -oE '^[^:]+:[0-9]+:[0-9]+: error' "$build/clang-format.log" | cut -d: -f1 | uniq -c
fi

# Headers are checked through the units that include them (HeaderFilterRegex).
# The fuzz harnesses are not in this build (they need NOLARI_FUZZ and clang).
# The build's -Werror is lifted so that clang's own warnings, which GCC's build
# does not share, do not stop a unit before the checks run.
echo "lint: clang-tidy on the units of $build, $jobs at a time"
# run-clang-tidy always asks for colour; the log is kept plain.
run-clang-tidy -quiet -j "$jobs" -p "$build" -extra-arg=-Wno-error '/native/(source|tests|tools)/' 2>&1 |
  sed 's/\x1b\[[0-9;]*m//g' >"$build/clang-tidy.log" || status=1
grep -E '(warning|error):' "$build/clang-tidy.log" | sort -u || true

if ((status)); then
  echo "lint: failed (full output in $build/clang-format.log and $build/clang-tidy.log)" >&2
fi
exit "$status"
