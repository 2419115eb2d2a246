#!/usr/bin/env bash
# Captures and applies the same generated tree (>= 500 MB, mixed compressible and
# random data, many small files) with our WIM engine and with wimlib-imagex, and
# prints the time and size ratios. Both run on the same library, so any difference
# is our own overhead (argument handling, progress lines, the scratch-file rename).
#   bench/wimengine_vs_wimlib.sh [ENGINE] [RUNS]
set -eu
engine=${1:-$(dirname "$0")/../build/native/tools/wimengine/ZeDadaviZezi}
runs=${2:-2}
work=$(mktemp -d /tmp/wimengine-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8

echo "generating the tree in $work/src ..."
mkdir -p "$work/src/random" "$work/src/text" "$work/src/small/目录"
for i in 1 2 3 4; do head -c 80000000 /dev/urandom >"$work/src/random/r$i.bin"; done
for i in 1 2 3; do
  seq 1 20000000 | sed "s/\$/ 日志行 $i/" | head -c 90000000 >"$work/src/text/t$i.log"
done
for i in $(seq 1 3000); do head -c $((RANDOM % 8192)) /dev/urandom | base64 >"$work/src/small/目录/f$i.txt"; done
cp "$work/src/random/r1.bin" "$work/src/random/duplicate.bin"  # found once, stored once
du -sb "$work/src" | awk '{printf "tree: %.0f MB\n", $1 / 1e6}'
cat $(find "$work/src" -type f) >/dev/null  # same warm cache for everyone

now() { date +%s.%N; }
best() { printf '%s\n' "$@" | sort -g | head -1; }

ours_capture=() peer_capture=() ours_apply=() peer_apply=()
for run in $(seq 1 "$runs"); do
  rm -rf "$work/ours.wim" "$work/peer.wim" "$work/ours-out" "$work/peer-out"
  t=$(now); "$engine" /capture "$work/src" "$work/ours.wim" "bench" "d" /compress maximum >"$work/ours-capture.log"
  ours_capture+=("$(echo "$(now) - $t" | bc)")
  t=$(now); wimlib-imagex capture "$work/src" "$work/peer.wim" "bench" "d" --compress=maximum >"$work/peer-capture.log"
  peer_capture+=("$(echo "$(now) - $t" | bc)")
  t=$(now); "$engine" /apply "$work/ours.wim" 1 "$work/ours-out" >"$work/ours-apply.log"
  ours_apply+=("$(echo "$(now) - $t" | bc)")
  t=$(now); wimlib-imagex apply "$work/peer.wim" 1 "$work/peer-out" >"$work/peer-apply.log"
  peer_apply+=("$(echo "$(now) - $t" | bc)")
done
diff -r "$work/src" "$work/ours-out" >/dev/null || { echo "our apply differs from the source"; exit 1; }

oc=$(best "${ours_capture[@]}") pc=$(best "${peer_capture[@]}")
oa=$(best "${ours_apply[@]}") pa=$(best "${peer_apply[@]}")
os=$(stat -c %s "$work/ours.wim") ps=$(stat -c %s "$work/peer.wim")
printf 'capture (LZX): ours %6.2f s  wimlib-imagex %6.2f s  time ratio %.3f\n' "$oc" "$pc" "$(echo "$oc / $pc" | bc -l)"
printf 'apply:         ours %6.2f s  wimlib-imagex %6.2f s  time ratio %.3f\n' "$oa" "$pa" "$(echo "$oa / $pa" | bc -l)"
printf 'image size:    ours %d B  wimlib-imagex %d B  size ratio %.4f\n' "$os" "$ps" "$(echo "$os / $ps" | bc -l)"
printf 'progress lines: capture %d, apply %d\n' "$(wc -l <"$work/ours-capture.log")" "$(wc -l <"$work/ours-apply.log")"
