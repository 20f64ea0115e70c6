#!/usr/bin/env bash
# CPU and memory of the parent's programs over ten seconds with nothing happening.
#   at_rest.sh <parent pid>
set -euo pipefail
parent=$1
seconds=10
ticks=$(getconf CLK_TCK)
children=$(cat "/proc/$parent/task/$parent/children")
declare -A before
for pid in $children; do before[$pid]=$(awk '{print $14 + $15}' "/proc/$pid/stat"); done
sleep "$seconds"
echo "at rest for $seconds s on the desktop:"
for pid in $children; do
  name=$(cat "/proc/$pid/comm")
  used=$(($(awk '{print $14 + $15}' "/proc/$pid/stat") - before[$pid]))
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
  awk -v n="$name" -v u="$used" -v t="$ticks" -v s="$seconds" -v r="$rss" \
    'BEGIN { printf "  %-8s CPU %5.2f %% of a core, RSS %6.1f MB\n", n, 100 * u / t / s, r / 1024 }'
done
