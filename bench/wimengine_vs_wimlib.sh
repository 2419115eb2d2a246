#!/usr/bin/env bash
# Our WIM engine against wimlib-imagex, capturing (LZX) and applying the same
# generated tree: mixed compressible and random data, a duplicate file, many small
# files in a folder with a Chinese name. Both run on the same library, so any
# difference is our own overhead (argument handling, progress lines, the scratch-file
# rename). Rounds rotate the first place, caches are settled before every run
# (bench/lib.sh); our applied tree is compared with the source. Goal: capture and
# apply at most 1.05x wimlib-imagex's time, the image at most 1.01x its size.
#   bash bench/wimengine_vs_wimlib.sh [TREE_MB] [ROUNDS]   (700 MB, 3 rounds;
#   needs about 4x the tree's size in TMPDIR, default /var/tmp; ENGINE=path for
#   another engine)
# Given a Windows build (ENGINE=build/win64/tools/wimengine/ZeDadaviZezi.exe), the
# engine runs under wine64 on the wimlib it carries (Wine has no wimgapi.dll) against
# the native wimlib-imagex: that ratio adds Wine's file layer and the libraries'
# version difference, so its measures are named wim.wine.*.
source "$(dirname "$0")/lib.sh"
bench_need wimlib-imagex=wimtools /usr/include/wimlib.h=libwim-dev /usr/bin/time=time diff=diffutils base64=coreutils
bench_engine tool_wimengine tools/wimengine/ZeDadaviZezi
tree_mb=${1:-700}
rounds=${2:-3}
export work
work=$(mktemp -d "${TMPDIR:-/var/tmp}/wimbench.XXXXXX")
bench_cleanups+=("rm -rf '$work'")

# The tree, in parts of the whole: 48% random (one of its files twice), 48% text, and
# small files of about 5 KB, 4 for each MB of the tree.
bench_say "generating a $tree_mb MB tree in $work/src"
part_mb() { echo $((tree_mb * $1 / 100)); }
mkdir -p "$work/src/random" "$work/src/text" "$work/src/small/目录"
for i in 1 2 3; do head -c $(($(part_mb 12) * MiB)) /dev/urandom >"$work/src/random/r$i.bin"; done
cp "$work/src/random/r1.bin" "$work/src/random/duplicate.bin"  # found once, stored once
for i in 1 2 3; do
  # (the endless line source is cut short on purpose: its broken pipe is not a failure)
  { yes "$i 日志行 $RANDOM" | awk '{ print NR, $0 }' || true; } | head -c $(($(part_mb 16) * MiB)) >"$work/src/text/t$i.log"
done
small_count=$((tree_mb * 4))
head -c $((small_count * 4096)) /dev/urandom | base64 -w 76 >"$bench_tmp/small.txt"
split -n "l/$small_count" -a 5 "$bench_tmp/small.txt" "$work/src/small/目录/f"
rm -f "$bench_tmp/small.txt"
du -sb "$work/src" | awk -v n="$small_count" '{ printf "   tree: %.0f MB, %d small files\n", $1 / 1048576, n }'

# The engine's own paths: Unix ones natively, Wine's Z: names of the same under Wine.
export ours_src=$work/src ours_wim=$work/ours.wim ours_out=$work/ours-out
run_ours='"$engine"' measure=wim
if [[ $engine == *.exe ]]; then
  if [[ -z ${DISPLAY:-} ]]; then  # our own display, so wine-env.sh sets no exit trap
    export DISPLAY=:${VREL_DISPLAY:-97}
    if ! xdpyinfo >/dev/null 2>&1; then
      Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      bench_cleanups+=("kill $! 2>/dev/null; wineserver -k 2>/dev/null")
      sleep 1
    fi
  fi
  source "$bench_root/scripts/wine-env.sh"
  export wine64
  winname() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
  ours_src=$(winname "$ours_src") ours_wim=$(winname "$ours_wim") ours_out=$(winname "$ours_out")
  run_ours='"$wine64" "$engine"' measure=wim.wine
  bench_say "engine under $("$wine64" --version)"
fi

bench_say "capture and apply, $rounds rounds"
cmd_ours_capture="$run_ours"' /capture "$ours_src" "$ours_wim" "bench" "d" /compress maximum'
cmd_wimlib_capture='wimlib-imagex capture "$work/src" "$work/peer.wim" "bench" "d" --compress=maximum'
cmd_ours_apply="$run_ours"' /apply "$ours_wim" 1 "$ours_out"'
cmd_wimlib_apply='wimlib-imagex apply "$work/peer.wim" 1 "$work/peer-out"'
reset_ours_capture() { rm -f "$work/ours.wim"; }
reset_wimlib_capture() { rm -f "$work/peer.wim"; }
reset_ours_apply() { rm -rf "$work/ours-out"; }
reset_wimlib_apply() { rm -rf "$work/peer-out"; }
warm_ours_capture=("$work/src") warm_wimlib_capture=("$work/src")
warm_ours_apply=("$work/ours.wim") warm_wimlib_apply=("$work/peer.wim")
bench_rounds "$rounds" ours_capture wimlib_capture
bench_report ours_capture wimlib_capture
bench_rounds "$rounds" ours_apply wimlib_apply
bench_report ours_apply wimlib_apply
diff -r "$work/src" "$work/ours-out" >"$bench_tmp/diff.log" 2>&1 ||
  { head -n 20 "$bench_tmp/diff.log" >&2; bench_die "our applied tree differs from the source"; }
grep -q '^Successfully imaged' "$bench_tmp/ours_capture.log" || bench_die "our capture did not report success"
echo "   progress lines: capture $(wc -l <"$bench_tmp/ours_capture.log"), apply $(wc -l <"$bench_tmp/ours_apply.log")"

bench_result "$measure.capture.time[s]" "$(bench_best ours_capture)" "$(bench_best wimlib_capture)" 'ratio<=1.05'
bench_result "$measure.apply.time[s]" "$(bench_best ours_apply)" "$(bench_best wimlib_apply)" 'ratio<=1.05'
bench_result "$measure.size[MB]" "$(calc "$(stat -c %s "$work/ours.wim") / $MiB" 2)" \
  "$(calc "$(stat -c %s "$work/peer.wim") / $MiB" 2)" 'ratio<=1.01'
