#!/usr/bin/env bash
# Runs every benchmark in this folder, one after the other, and prints one table of
# their RESULT lines: measure, ours, peer (or the reference), ratio, goal, met.
# Each script's full output goes to LOG_DIR (default artifacts/bench); a script that
# fails is reported and the others still run; the exit status is 1 if any failed.
#   bash bench/all.sh            (about 15 minutes on a 2-core machine)
#   BENCH_SKIP="runcaptured ..." bash bench/all.sh   to leave some out
# Sizes are the scripts' defaults but the ISO copy's (1 GB, to keep the run short).
set -Eeuo pipefail
export LC_ALL=C.UTF-8
root=$(cd "$(dirname "$0")/.." && pwd)
logs=${LOG_DIR:-$root/artifacts/bench}
mkdir -p "$logs"
runs=(
  "ghost_vs_peers"
  "ghost_scale"
  "iso_extract_vs_peers 1024"
  "wimengine_vs_wimlib"
  "progress_parse"
  "runcaptured"
)
started=$(date +%s)
machine="$(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), $(free -g | awk '/^Mem:/ { print $2 }') GB"
echo "bench/all.sh, $(date '+%Y-%m-%d %H:%M %Z'), $machine, load average $(cut -d' ' -f1-3 /proc/loadavg)"
failed=()
: >"$logs/results.txt"
for run in "${runs[@]}"; do
  read -r script args <<<"$run"
  if [[ " ${BENCH_SKIP:-} " == *" $script "* ]]; then echo "== $script: skipped"; continue; fi
  echo "== $script ${args:-}"
  t0=$(date +%s)
  # shellcheck disable=SC2086
  if bash "$root/bench/$script.sh" $args >"$logs/$script.log" 2>&1; then
    echo "   done in $(($(date +%s) - t0)) s (log: $logs/$script.log)"
  else
    failed+=("$script")
    echo "   FAILED after $(($(date +%s) - t0)) s; the end of its log:"
    tail -n 15 "$logs/$script.log" | sed 's/^/   | /'
  fi
  grep '^RESULT ' "$logs/$script.log" >>"$logs/results.txt" || true
done
total=$(($(date +%s) - started))

echo
echo "bench/all.sh, $(date '+%Y-%m-%d'), $machine; all runs took $((total / 60)) min $((total % 60)) s,"
echo "load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
awk '
  function met(goal, ours, ratio,   subject, limit, value) {
    subject = goal; sub(/<=.*/, "", subject)
    limit = goal; sub(/^[a-z]*<=/, "", limit)
    value = subject == "ratio" ? ratio : ours
    if (value == "-" || value == "") return "?"
    return value + 0 <= limit + 0 ? "met" : "NOT MET"
  }
  BEGIN { printf "%-42s %9s %9s %8s  %-12s %s\n", "measure", "ours", "peer", "ratio", "goal", "met" }
  { m = met($6, $3, $5); if (m != "met") missed++
    printf "%-42s %9s %9s %8s  %-12s %s\n", $2, $3, $4, $5, $6, m }
  END { printf "%d measures, %d not met\n", NR, missed + 0 }
' "$logs/results.txt" | tee "$logs/table.txt"
if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]} (their logs are in $logs)"
  exit 1
fi
