#!/usr/bin/env bash
# Ambrel's key callback beside an empty one; the slash-command check over a
# field of a megabyte; the command list's showing and arrow keys; the agent through its pipes beside an echo process;
# then the blob's processor time and memory on a headless X desktop (blob.py).
# desktop.py times the command hotkey on a headless X desktop, hover.py the
# pointer move to the hover line and a flood of moves.
set -euo pipefail
build=${1:?usage: bench/ambrel/run.sh <build dir>}
build=$(cd "$build" && pwd)
ambrel=$build/native/source/ambrel/ambrel
bench=$build/native/tests/ambrel/ambrel_key_bench
slash=$build/native/tests/ambrel/ambrel_slash_bench
list=$build/native/tests/ambrel/ambrel_list_bench
for program in "$ambrel" "$bench" "$slash" "$list"; do
  [[ -x "$program" ]] || { echo "bench: $program is not built" >&2; exit 1; }
done
"$bench"
"$slash"
"$list"
/usr/bin/python3 "$(dirname "$0")/bench.py" "$ambrel"
exec /usr/bin/python3 "$(dirname "$0")/blob.py" "$build"
