#!/usr/bin/env bash
# Captures and applies the same generated tree (>= 500 MB, mixed compressible and
# random data, many small files) with our WIM engine and with wimlib-imagex, and
# prints the time and size ratios. The Linux engine runs on the same library, so any
# difference is our own overhead (argument handling, progress lines, the scratch-file
# rename). Given a Windows build (a .exe), the engine runs under wine64 on its own
# wimlib (third_party/, on the wimlib backend as Wine has no wimgapi.dll) against the
# native wimlib-imagex: that ratio adds Wine's file-system cost and the versions'
# difference.
#   bench/wimengine_vs_wimlib.sh [ENGINE] [RUNS]
#   bench/wimengine_vs_wimlib.sh build/win64/tools/wimengine/ZeDadaviZezi.exe
set -eu
engine=${1:-$(dirname "$0")/../build/native/tools/wimengine/ZeDadaviZezi}
runs=${2:-2}
work=$(mktemp -d /tmp/wimengine-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
run_engine() { "$engine" "$@"; }
path() { echo "$1"; }
if [[ $engine == *.exe ]]; then
  engine=$(realpath "$engine")
  source "$(dirname "$0")/../scripts/wine-env.sh"
  trap 'rm -rf "$work"; [[ -z ${vrel_xvfb_pid:-} ]] || kill "$vrel_xvfb_pid" 2>/dev/null || true' EXIT
  run_engine() { "$wine64" "$engine" "$@" 2>/dev/null; }
  path() { winpath "$1"; }
  mkdir -p "$work/ours-out" && wine_dir=$(path "$work")  # winpath needs an existing path
  path() { echo "$wine_dir\\${1#"$work"/}"; }
  echo "engine under $("$wine64" --version)"
fi
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
  t=$(now); run_engine /capture "$(path "$work/src")" "$(path "$work/ours.wim")" "bench" "d" /compress maximum >"$work/ours-capture.log"
  ours_capture+=("$(echo "$(now) - $t" | bc)")
  t=$(now); wimlib-imagex capture "$work/src" "$work/peer.wim" "bench" "d" --compress=maximum >"$work/peer-capture.log"
  peer_capture+=("$(echo "$(now) - $t" | bc)")
  t=$(now); run_engine /apply "$(path "$work/ours.wim")" 1 "$(path "$work/ours-out")" >"$work/ours-apply.log"
  ours_apply+=("$(echo "$(now) - $t" | bc)")
  t=$(now); wimlib-imagex apply "$work/peer.wim" 1 "$work/peer-out" >"$work/peer-apply.log"
  peer_apply+=("$(echo "$(now) - $t" | bc)")
done
diff -r "$work/src" "$work/ours-out" >/dev/null || { echo "our apply differs from the source"; exit 1; }
grep -q '^Successfully imaged' "$work/ours-capture.log" && grep -q '^Successfully applied' "$work/ours-apply.log" ||
  { echo "our engine did not succeed"; exit 1; }

oc=$(best "${ours_capture[@]}") pc=$(best "${peer_capture[@]}")
oa=$(best "${ours_apply[@]}") pa=$(best "${peer_apply[@]}")
os=$(stat -c %s "$work/ours.wim") ps=$(stat -c %s "$work/peer.wim")
printf 'capture (LZX): ours %6.2f s  wimlib-imagex %6.2f s  time ratio %.3f\n' "$oc" "$pc" "$(echo "$oc / $pc" | bc -l)"
printf 'apply:         ours %6.2f s  wimlib-imagex %6.2f s  time ratio %.3f\n' "$oa" "$pa" "$(echo "$oa / $pa" | bc -l)"
printf 'image size:    ours %d B  wimlib-imagex %d B  size ratio %.4f\n' "$os" "$ps" "$(echo "$os / $ps" | bc -l)"
printf 'progress lines: capture %d, apply %d\n' "$(wc -l <"$work/ours-capture.log")" "$(wc -l <"$work/ours-apply.log")"
